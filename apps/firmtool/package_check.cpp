#include "package_check.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "firmtool.h"
#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_image.h"
#include "firmware/srecord_reader.h"

namespace firmtool {

namespace {

// The INQUIRY product identification is 16 bytes, and the reader's product
// name is compared with its trailing white space removed.
constexpr std::size_t kInquiryProductLength = 16;
constexpr char kCarriageReturn = '\r';
constexpr char kExpectedSeparator = ';';
// A plain (unencoded) S-record file starts with the letter of its first record.
constexpr std::uint8_t kPlainRecordStart = 'S';

void add(RowCheck& check, Severity severity, std::string text) {
    check.findings.push_back({severity, std::move(text)});
}

bool isHexDigit(char character) {
    return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'f') ||
           (character >= 'A' && character <= 'F');
}

bool isFourHexDigits(std::string_view field) {
    return field.size() == firmware::kFixedFieldWidth &&
           std::all_of(field.begin(), field.end(), isHexDigit);
}

bool hasUpperCase(std::string_view field) {
    return std::any_of(field.begin(), field.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool isBlank(char character) {
    return character == ' ' || character == '\t';
}

// The reader a row is written for: exactly its key fields.
firmware::ReaderIdentity readerOfRow(const firmware::FirmwareTableRow& row) {
    return {row.keyVendorId, row.keyProductId, row.keyRevision, row.keyProductName};
}

void checkKeyId(RowCheck& check, std::string_view name, std::string_view value) {
    if (!isFourHexDigits(value)) {
        add(check, Severity::Problem,
            std::string(name) + " " + quote(value) +
                " is not four hexadecimal digits: no reader's USB identity can equal it");
    } else if (hasUpperCase(value)) {
        add(check, Severity::Warning,
            std::string(name) + " " + quote(value) +
                " has upper-case digits; the registry spells USB ids in lower case and the "
                "comparison is exact");
    }
}

void checkKeyProductName(RowCheck& check, std::string_view name) {
    if (name.empty()) {
        add(check, Severity::Warning,
            "keyProductName is empty: only a reader without a product "
            "name matches");
    } else if (name.size() > kInquiryProductLength) {
        add(check, Severity::Problem,
            "keyProductName " + quote(name) +
                " is longer than the 16 characters of an INQUIRY product: no reader can match it");
    } else if (isBlank(name.back())) {
        add(check, Severity::Problem,
            "keyProductName " + quote(name) +
                " ends with white space, which the reader's product name never does once its "
                "trailing blanks are removed");
    }
}

void checkKeys(RowCheck& check) {
    const firmware::FirmwareTableRow& row = check.row;
    checkKeyId(check, "keyVendorId", row.keyVendorId);
    checkKeyId(check, "keyProductId", row.keyProductId);
    checkKeyId(check, "keyRevision", row.keyRevision);
    checkKeyProductName(check, row.keyProductName);
}

void checkNewIdentity(RowCheck& check) {
    const firmware::FirmwareTableRow& row = check.row;
    if (!isFourHexDigits(row.newProductId)) {
        add(check, Severity::Warning,
            "newProductId " + quote(row.newProductId) +
                " is not four hexadecimal digits; the header gets product id " +
                hex(firmware::headerIdentityValue(row.newProductId)));
    }
    if (row.newProductName.size() > firmware::kHeaderProductNameLength) {
        add(check, Severity::Warning,
            "newProductName " + quote(row.newProductName) +
                " is cut to its first 16 characters in the header");
    }
    if (row.handoffRevision.size() != firmware::kFixedFieldWidth) {
        add(check, Severity::Warning,
            "handoffRevision " + quote(row.handoffRevision) +
                " is not four characters; the format program compares it with the reader's new "
                "USB revision");
    }
}

bool equalIgnoringCase(std::string_view left, std::string_view right) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [&lower](char a, char b) { return lower(a) == lower(b); });
}

void checkHeaderName(RowCheck& check) {
    const std::string& name = check.row.headerName;
    if (name.size() > firmware::kHeaderNameLength) {
        add(check, Severity::Warning,
            "headerName " + quote(name) + " is cut to 28 bytes in the header");
    }
    if (!firmware::scramblingEnabled(name) &&
        equalIgnoringCase(name, firmware::kScramblingHeaderName)) {
        add(check, Severity::Warning,
            "headerName " + quote(name) + " differs from " +
                quote(firmware::kScramblingHeaderName) +
                " only in letter case: the blocks are sent unscrambled");
    }
}

// Where the separators after the fixed-width fields stand in the line, found
// from the lengths of the fields cut before them.
std::vector<std::pair<std::string_view, std::size_t>> separatorPositions(
    const firmware::FirmwareTableRow& row) {
    constexpr std::size_t width = firmware::kFixedFieldWidth;
    constexpr std::size_t stride = firmware::kFixedFieldStride;
    const std::size_t revisionStart =
        3 * stride + row.keyProductName.size() + 1 + row.newProductName.size() + 1;
    const std::size_t handoffStart = revisionStart + stride + row.headerName.size() + 1;
    return {{"keyVendorId", width},
            {"keyProductId", stride + width},
            {"newProductId", 2 * stride + width},
            {"keyRevision", revisionStart + width},
            {"handoffRevision", handoffStart + width}};
}

void checkSeparators(RowCheck& check) {
    for (const auto& [field, position] : separatorPositions(check.row)) {
        if (position >= check.line.size() || check.line[position] == kExpectedSeparator) continue;
        add(check, Severity::Warning,
            "the separator after " + std::string(field) + " is " +
                quote(check.line.substr(position, 1)) +
                ", not ';' (the update program skips it whatever it is)");
    }
}

void checkFileName(RowCheck& check) {
    const std::string& name = check.row.firmwareFileName;
    if (name.empty()) {
        add(check, Severity::Problem, "the row names no firmware file");
    } else if (name.back() == kCarriageReturn) {
        add(check, Severity::Problem,
            "the file name " + quote(name) +
                " ends in CR (the row has CR LF line ends): the update program cannot open it");
    }
}

void checkShape(RowCheck& check) {
    checkKeys(check);
    checkNewIdentity(check);
    checkHeaderName(check);
    checkSeparators(check);
    checkFileName(check);
}

// The update program takes the first row whose key fits; a later row with the
// same key is never reached.
void checkShadowing(RowCheck& check, std::string_view programText) {
    const auto chosen = firmware::findFirmwareRowLine(programText, readerOfRow(check.row));
    if (chosen && *chosen + 1 < check.lineNumber) {
        add(check, Severity::Problem,
            "never chosen: row " + std::to_string(*chosen + 1) +
                " has the same vendor id, product id, product name and revision");
    }
}

std::string loadResultMeaning(std::uint8_t result) {
    switch (result) {
        case firmware::kLoadChecksumError:
            return "a record fails its checksum or is cut short";
        case firmware::kLoadAddressOutOfRange:
            return "a data record lies outside 0x10000-0x3ffff";
        default:
            return "unknown result";
    }
}

// A hint for the most common slip: a firmware file copied in unencoded.
std::string plainFileHint(const std::string& path) {
    firmware::FileByteSource file;
    std::uint8_t first = 0;
    if (!file.open(path) || !file.readByte(first) || first != kPlainRecordStart) return "";
    return "; it looks like a plain S-record file: encode it with firmtool encode";
}

// The blocks always start at image index 0x10000, so data loaded above that
// shifts the described range away from what is sent.
void checkBlockReach(RowCheck& check, const FirmwareFacts& facts) {
    const std::uint32_t start = facts.plan.header.imageStart;
    if (start <= firmware::kFirstBlockIndex) return;
    const std::uint32_t lastSent =
        firmware::kFirstBlockIndex +
        static_cast<std::uint32_t>(facts.plan.blockCount * firmware::kBlockSize) - 1;
    if (facts.highAddress > lastSent) {
        add(check, Severity::Problem,
            "data starts at " + hex(start) + " but the blocks are sent from " +
                hex(firmware::kFirstBlockIndex) + " and end at " + hex(lastSent) +
                ": the data up to " + hex(facts.highAddress) + " is never sent");
    } else {
        add(check, Severity::Warning,
            "data starts at " + hex(start) + ", yet the blocks are sent from " +
                hex(firmware::kFirstBlockIndex));
    }
}

void checkLoadedFirmware(RowCheck& check, const LoadedFirmware& loaded) {
    const std::string& name = check.row.firmwareFileName;
    if (loaded.result != firmware::kLoadOk) {
        add(check, Severity::Problem,
            "firmware file " + quote(name) +
                " does not load: result=" + std::to_string(loaded.result) + " (" +
                loadResultMeaning(loaded.result) + ")" + plainFileHint(name));
        return;
    }
    if (!loaded.image->holdsData()) {
        add(check, Severity::Problem,
            "firmware file " + quote(name) +
                " holds no data: the reader would be left without firmware" + plainFileHint(name));
        return;
    }
    checkBlockReach(check, *check.firmware);
}

}  // namespace

bool RowCheck::canWork() const {
    return count(Severity::Problem) == 0;
}

std::size_t RowCheck::count(Severity severity) const {
    return static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(),
                      [severity](const Finding& finding) { return finding.severity == severity; }));
}

std::vector<RowCheck> checkTableRows(std::span<const std::uint8_t> rawTable) {
    const std::string programText = firmware::decodeFirmwareTableText(rawTable);
    const std::vector<std::uint8_t> decoded = firmware::decodeChainedFile(rawTable);
    const std::string fullText(decoded.begin(), decoded.end());
    const auto programLines = firmware::firmwareTableLines(programText);
    const auto fullLines = firmware::firmwareTableLines(fullText);

    std::vector<RowCheck> checks;
    for (std::size_t index = 0; index < fullLines.size(); ++index) {
        RowCheck check;
        check.lineNumber = index + 1;
        check.line = std::string(fullLines[index]);
        check.row = firmware::cutFirmwareTableRow(fullLines[index]);
        check.readByProgram =
            index < programLines.size() && programLines[index] == fullLines[index];
        if (!check.readByProgram) {
            add(check, Severity::Problem,
                "never read whole: the update program reads only the first 32768 raw bytes of "
                "the table, up to the first zero byte");
        } else if (!check.isEmptyLine()) {
            checkShape(check);
            checkShadowing(check, programText);
        }
        checks.push_back(std::move(check));
    }
    return checks;
}

bool firmwareIsCheckable(const RowCheck& check) {
    const std::string& name = check.row.firmwareFileName;
    return check.readByProgram && !check.isEmptyLine() && !name.empty() &&
           name.back() != kCarriageReturn;
}

void checkRowFirmware(RowCheck& check) {
    const std::string& name = check.row.firmwareFileName;
    LoadedFirmware loaded;
    if (!loadFirmwareFile(name, loaded)) {
        add(check, Severity::Problem, "firmware file " + quote(name) + " cannot be opened");
        return;
    }
    FirmwareFacts facts;
    facts.loadResult = loaded.result;
    facts.lowAddress = loaded.image->imageLowAddress;
    facts.highAddress = loaded.image->imageHighAddress;
    facts.holdsData = loaded.image->holdsData();
    facts.plan =
        firmware::planFlash(*loaded.image, headerIdentity(readerOfRow(check.row), check.row));
    check.firmware = facts;
    checkLoadedFirmware(check, loaded);
}

}  // namespace firmtool
