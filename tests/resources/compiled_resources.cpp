#include "compiled_resources.h"

#include <cstdlib>
#include <sstream>

namespace resources {

namespace {

constexpr std::uint16_t kOrdinalMark = 0xFFFF;
constexpr std::uint16_t kResourceTypeIcon = 3;
constexpr std::uint16_t kResourceTypeDialog = 5;
constexpr std::uint16_t kResourceTypeString = 6;
constexpr std::uint16_t kResourceTypeGroupIcon = 14;
constexpr std::uint32_t kDsSetFont = 0x40;
constexpr int kStringsPerBundle = 16;

// The predefined window classes a template names by ordinal.
const std::map<std::uint16_t, std::string> kClassOrdinals = {
    {0x80, "Button"},  {0x81, "Edit"},      {0x82, "Static"},
    {0x83, "ListBox"}, {0x84, "ScrollBar"}, {0x85, "ComboBox"},
};

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Little-endian reads over the file with a bound check on every step.
class Reader {
  public:
    Reader(const std::vector<std::uint8_t>& bytes, std::size_t start, std::size_t end)
        : bytes_(bytes), at_(start), start_(start), end_(end) {}

    bool failed() const { return failed_; }
    std::size_t position() const { return at_; }

    std::uint16_t u16() {
        if (!need(2)) return 0;
        const auto value = static_cast<std::uint16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
        at_ += 2;
        return value;
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        const std::uint32_t high = u16();
        return low | (high << 16);
    }
    int i16() { return static_cast<std::int16_t>(u16()); }
    std::uint8_t u8() {
        if (!need(1)) return 0;
        return bytes_[at_++];
    }
    void skip(std::size_t count) {
        if (need(count)) at_ += count;
    }
    // To the next multiple of four counted from where the block starts.
    void alignFromStart() {
        while ((at_ - start_) % 4 != 0 && at_ < end_) ++at_;
    }

    std::string utf16String() {
        std::string text;
        while (true) {
            const std::uint16_t unit = u16();
            if (failed_ || unit == 0) return text;
            std::uint32_t code = unit;
            if (unit >= 0xD800 && unit < 0xDC00) {
                const std::uint16_t low = u16();
                code =
                    0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00u);
            }
            appendUtf8(text, code);
        }
    }

    // A name or an ordinal, as templates and resource headers hold them.
    std::string nameOrOrdinal(std::optional<std::uint16_t>* ordinal = nullptr) {
        if (!need(2)) return {};
        const auto first = static_cast<std::uint16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
        if (first == kOrdinalMark) {
            at_ += 2;
            const std::uint16_t value = u16();
            if (ordinal != nullptr) *ordinal = value;
            return std::to_string(value);
        }
        if (first == 0) {
            at_ += 2;
            return {};
        }
        return utf16String();
    }

  private:
    bool need(std::size_t count) {
        if (failed_ || at_ + count > end_) {
            failed_ = true;
            return false;
        }
        return true;
    }

    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_;
    std::size_t start_;
    std::size_t end_;
    bool failed_ = false;
};

CompiledRect readRect(Reader& in) {
    CompiledRect rect;
    rect.x = in.i16();
    rect.y = in.i16();
    rect.width = in.i16();
    rect.height = in.i16();
    return rect;
}

std::string className(Reader& in) {
    std::optional<std::uint16_t> ordinal;
    std::string name = in.nameOrOrdinal(&ordinal);
    if (ordinal) {
        const auto known = kClassOrdinals.find(*ordinal);
        if (known != kClassOrdinals.end()) return known->second;
    }
    return name;
}

CompiledDialog decodeDialog(Reader& in, int id) {
    CompiledDialog dialog;
    dialog.id = id;
    const std::uint16_t version = in.u16();
    const std::uint16_t signature = in.u16();
    dialog.extended = version == 1 && signature == kOrdinalMark;
    std::size_t count = 0;
    if (dialog.extended) {
        in.u32();  // help id
        in.u32();  // extended style
        dialog.style = in.u32();
    } else {
        dialog.style =
            static_cast<std::uint32_t>(version) | (static_cast<std::uint32_t>(signature) << 16);
        in.u32();  // extended style
    }
    count = in.u16();
    dialog.rect = readRect(in);
    in.nameOrOrdinal();  // menu
    in.nameOrOrdinal();  // window class
    dialog.caption = in.utf16String();
    if ((dialog.style & kDsSetFont) != 0) {
        in.u16();  // point size
        if (dialog.extended) {
            in.u16();  // weight
            in.u8();   // italic
            in.u8();   // character set
        }
        in.utf16String();  // face
    }
    for (std::size_t item = 0; item < count && !in.failed(); ++item) {
        in.alignFromStart();
        CompiledControl control;
        if (dialog.extended) {
            in.u32();  // help id
            in.u32();  // extended style
            control.style = in.u32();
            control.rect = readRect(in);
            control.id = static_cast<std::int32_t>(in.u32());
        } else {
            control.style = in.u32();
            in.u32();  // extended style
            control.rect = readRect(in);
            control.id = in.i16();
        }
        control.className = className(in);
        control.text = in.nameOrOrdinal();
        in.skip(in.u16());  // creation data
        dialog.controls.push_back(control);
    }
    return dialog;
}

void decodeStrings(Reader& in, int bundle, std::map<int, std::string>& strings) {
    for (int index = 0; index < kStringsPerBundle && !in.failed(); ++index) {
        const std::uint16_t length = in.u16();
        std::string text;
        for (std::uint16_t unit = 0; unit < length && !in.failed(); ++unit) {
            std::uint32_t code = in.u16();
            if (code >= 0xD800 && code < 0xDC00 && unit + 1 < length) {
                const std::uint32_t low = in.u16();
                ++unit;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(text, code);
        }
        if (length != 0) strings[(bundle - 1) * kStringsPerBundle + index] = text;
    }
}

}  // namespace

std::optional<CompiledResources> decodeResFile(const std::vector<std::uint8_t>& bytes,
                                               std::string& error) {
    CompiledResources compiled;
    std::size_t entry = 0;
    while (entry < bytes.size()) {
        Reader header(bytes, entry, bytes.size());
        const std::uint32_t dataSize = header.u32();
        const std::uint32_t headerSize = header.u32();
        std::optional<std::uint16_t> type;
        std::optional<std::uint16_t> name;
        header.nameOrOrdinal(&type);
        header.nameOrOrdinal(&name);
        const std::size_t dataStart = entry + headerSize;
        const std::size_t dataEnd = dataStart + dataSize;
        if (header.failed() || headerSize == 0 || dataEnd > bytes.size()) {
            error = "resource entry at offset " + std::to_string(entry) + " runs past the file";
            return std::nullopt;
        }
        if (type && name && dataSize != 0) {
            Reader data(bytes, dataStart, dataEnd);
            if (*type == kResourceTypeDialog) {
                compiled.dialogs[*name] = decodeDialog(data, *name);
            } else if (*type == kResourceTypeString) {
                decodeStrings(data, *name, compiled.strings);
            } else if (*type == kResourceTypeGroupIcon) {
                compiled.iconGroups.insert(*name);
            } else if (*type != kResourceTypeIcon) {
                error = "unexpected resource type " + std::to_string(*type);
                return std::nullopt;
            }
            if (data.failed()) {
                error = "resource " + std::to_string(*name) + " of type " + std::to_string(*type) +
                        " is cut short";
                return std::nullopt;
            }
        }
        entry = (dataEnd + 3) & ~std::size_t{3};
    }
    return compiled;
}

std::optional<std::filesystem::path> findWindres() {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::nullopt;
    for (const char* tool : {"i686-w64-mingw32-windres", "x86_64-w64-mingw32-windres"}) {
        std::istringstream folders(path);
        std::string folder;
        while (std::getline(folders, folder, ':')) {
            const std::filesystem::path candidate = std::filesystem::path(folder) / tool;
            std::error_code ignored;
            if (std::filesystem::is_regular_file(candidate, ignored)) return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace resources
