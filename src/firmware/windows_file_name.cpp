#include "firmware/windows_file_name.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace firmware {

namespace {

constexpr char kBackslash = '\\';
constexpr char kSlash = '/';
constexpr char kDriveSeparator = ':';
constexpr std::size_t kDriveSeparatorIndex = 1;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr const char* kRefusedCharacters = "<>\"|?*";
constexpr std::string_view kCurrentFolder = ".";
constexpr std::string_view kParentFolder = "..";

char lowerAscii(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                : character;
}

bool isDrive(std::string_view component) {
    return component.size() == kDriveSeparatorIndex + 1 &&
           component[kDriveSeparatorIndex] == kDriveSeparator;
}

void appendComponent(std::vector<std::string>& parts, std::string_view component) {
    if (component.empty() || component == kCurrentFolder) return;
    if (component != kParentFolder || parts.empty() || parts.back() == kParentFolder) {
        parts.emplace_back(component);
    } else if (!isDrive(parts.back())) {
        parts.pop_back();
    }
    // Above a drive's root there is nothing: Windows stays at the root.
}

std::optional<std::filesystem::path> entryNamed(const std::filesystem::path& folder,
                                                std::string_view name) {
    if (name == kParentFolder) return folder / kParentFolder;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (sameWindowsName(entry.path().filename().string(), name)) return entry.path();
    }
    return std::nullopt;
}

}  // namespace

bool sameWindowsName(std::string_view first, std::string_view second) {
    return first.size() == second.size() &&
           std::equal(first.begin(), first.end(), second.begin(),
                      [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

bool isValidWindowsName(std::string_view path) {
    for (std::size_t index = 0; index < path.size(); ++index) {
        const auto code = static_cast<unsigned char>(path[index]);
        if (code < kFirstPrintable || std::strchr(kRefusedCharacters, code) != nullptr) {
            return false;
        }
        if (path[index] == kDriveSeparator && index != kDriveSeparatorIndex) return false;
    }
    return true;
}

bool hasWindowsDrive(std::string_view path) {
    return path.size() > kDriveSeparatorIndex && path[kDriveSeparatorIndex] == kDriveSeparator;
}

std::vector<std::string> windowsPathComponents(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t index = 0; index <= path.size(); ++index) {
        if (index < path.size() && path[index] != kBackslash && path[index] != kSlash) continue;
        appendComponent(parts, path.substr(start, index - start));
        start = index + 1;
    }
    return parts;
}

std::optional<std::filesystem::path> findHostFile(const std::filesystem::path& folder,
                                                  const std::vector<std::string>& components) {
    if (components.empty()) return std::nullopt;
    std::filesystem::path host = folder;
    for (const std::string& component : components) {
        const std::optional<std::filesystem::path> entry = entryNamed(host, component);
        if (!entry) return std::nullopt;
        host = *entry;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(host, error)) return std::nullopt;
    return host;
}

std::optional<std::filesystem::path> findHostFile(const std::filesystem::path& folder,
                                                  std::string_view windowsName) {
    if (!isValidWindowsName(windowsName) || hasWindowsDrive(windowsName)) return std::nullopt;
    return findHostFile(folder, windowsPathComponents(windowsName));
}

}  // namespace firmware
