#include "package_check.h"

#include <algorithm>
#include <map>
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
// `firmtool check` works from inside the package folder, as the update
// program does from its own.
constexpr std::string_view kPackageFolder = ".";

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

bool hasUpperCaseLetter(std::string_view field) {
    return std::any_of(field.begin(), field.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool hasLowerCaseLetter(std::string_view field) {
    return std::any_of(field.begin(), field.end(), [](char c) { return c >= 'a' && c <= 'z'; });
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

// The generations whose registry spelling the row's three key ids can equal.
unsigned generationsOf(const firmware::FirmwareTableRow& row) {
    unsigned generations = kEveryGeneration;
    for (const std::string* id : {&row.keyVendorId, &row.keyProductId, &row.keyRevision}) {
        if (!isFourHexDigits(*id)) return kNoGeneration;
        if (hasLowerCaseLetter(*id)) generations &= ~unsigned{kNewerWindows};
        if (hasUpperCaseLetter(*id)) generations &= ~unsigned{kOlderWindows};
    }
    return generations;
}

void checkGenerations(RowCheck& check) {
    check.generations = generationsOf(check.row);
    const firmware::FirmwareTableRow& row = check.row;
    const bool idsWellFormed = isFourHexDigits(row.keyVendorId) &&
                               isFourHexDigits(row.keyProductId) &&
                               isFourHexDigits(row.keyRevision);
    if (idsWellFormed && check.generations == kNoGeneration) {
        add(check, Severity::Problem,
            "the key ids mix lower- and upper-case hexadecimal digits: Windows 2000/XP spell "
            "USB ids in lower case, Vista and later in upper case, and the comparison is exact, "
            "so no reader can match");
    }
}

void checkKeys(RowCheck& check) {
    const firmware::FirmwareTableRow& row = check.row;
    checkKeyId(check, "keyVendorId", row.keyVendorId);
    checkKeyId(check, "keyProductId", row.keyProductId);
    checkKeyId(check, "keyRevision", row.keyRevision);
    checkKeyProductName(check, row.keyProductName);
    checkGenerations(check);
}

// After the update the format program looks for the reader by the product
// the marker names, which is the row's old name, and builds the reader's
// registry key from it.
void checkRenamedProduct(RowCheck& check) {
    const firmware::FirmwareTableRow& row = check.row;
    if (row.newProductName == row.keyProductName) return;
    const std::string change = "newProductName " + quote(row.newProductName) +
                               " differs from keyProductName " + quote(row.keyProductName);
    if (row.newProductName.find(row.keyProductName) == std::string::npos) {
        add(check, Severity::Warning,
            change + ": after the update Ardlow looks for a reader whose product name contains " +
                quote(row.keyProductName) +
                ", does not find the renamed reader and cannot format its card");
    } else {
        add(check, Severity::Warning,
            change +
                ": after the update Ardlow looks the reader up under the old name, cannot "
                "confirm its new revision and shows notice 139 instead of 140");
    }
}

void checkNewIdentity(RowCheck& check) {
    const firmware::FirmwareTableRow& row = check.row;
    if (!isFourHexDigits(row.newProductId)) {
        add(check, Severity::Warning,
            "newProductId " + quote(row.newProductId) +
                " is not four hexadecimal digits; the header gets product id " +
                hex(firmware::headerIdentityValue(row.newProductId)));
    }
    checkRenamedProduct(check);
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

// The blocks always start at image index 0x10000, so data loaded above that
// shifts the range the header claims away from what is sent; a reader takes an
// image only when the claimed range arrives whole.
void checkBlockReach(RowCheck& check, const FirmwareFacts& facts) {
    const firmware::BlockReach reach =
        firmware::blockReach(facts.plan.header, facts.plan.blockCount);
    if (!reach.claimedRangeCarried()) {
        add(check, Severity::Problem,
            firmware::describeUncarriedRange(reach) +
                ": the reader will not take the image and keeps its old firmware");
    } else if (facts.plan.header.imageStart > firmware::kFirstBlockIndex) {
        add(check, Severity::Warning,
            "data starts at " + hex(facts.plan.header.imageStart) +
                ", yet the blocks are sent from " + hex(firmware::kFirstBlockIndex));
    }
}

void checkLoadedFirmware(RowCheck& check, const LoadedFirmware& loaded) {
    const std::string& name = check.row.firmwareFileName;
    if (loaded.result != firmware::kLoadOk) {
        add(check, Severity::Problem,
            "firmware file " + quote(name) + " does not load: " + describeLoadFailure(loaded));
        return;
    }
    if (!loaded.image->holdsData()) {
        add(check, Severity::Problem,
            "firmware file " + quote(name) +
                " holds no data: the reader would be left without firmware");
        return;
    }
    checkBlockReach(check, *check.firmware);
}

// The reader a row names, its ids compared without regard to case: rows that
// differ only in the spelling of the ids serve one reader on different
// Windows generations.
std::string readerKey(const firmware::FirmwareTableRow& row) {
    std::string key = row.keyVendorId + ";" + row.keyProductId + ";" + row.keyRevision;
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return key + ";" + row.keyProductName;
}

// A reader whose rows all spell the ids one generation's way is not updated
// on the other generation at all.
void checkGenerationCoverage(std::vector<RowCheck>& checks) {
    std::map<std::string, unsigned> covered;
    std::map<std::string, RowCheck*> firstRow;
    for (RowCheck& check : checks) {
        if (!check.readByProgram || check.isEmptyLine() || check.generations == kNoGeneration) {
            continue;
        }
        const std::string key = readerKey(check.row);
        covered[key] |= check.generations;
        firstRow.try_emplace(key, &check);
    }
    for (const auto& [key, generations] : covered) {
        if (generations == kEveryGeneration) continue;
        const unsigned missing = kEveryGeneration & ~generations;
        add(*firstRow[key], Severity::Warning,
            "this reader has rows for " + generationText(generations) + " only: on " +
                generationText(missing) + " the registry spells its ids in " +
                (missing == kNewerWindows ? "upper" : "lower") +
                " case and no row matches; add a row spelt that way");
    }
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
    checkGenerationCoverage(checks);
    return checks;
}

std::string generationText(unsigned generations) {
    switch (generations) {
        case kOlderWindows:
            return "Windows 2000/XP";
        case kNewerWindows:
            return "Windows Vista and later";
        case kEveryGeneration:
            return "every Windows generation";
        default:
            return "no Windows generation";
    }
}

bool firmwareIsCheckable(const RowCheck& check) {
    const std::string& name = check.row.firmwareFileName;
    return check.readByProgram && !check.isEmptyLine() && !name.empty() &&
           name.back() != kCarriageReturn;
}

void checkRowFirmware(RowCheck& check) {
    const std::string& name = check.row.firmwareFileName;
    const std::optional<std::string> path = firmwareFilePath(kPackageFolder, name);
    LoadedFirmware loaded;
    if (!path || !loadFirmwareFile(*path, loaded)) {
        add(check, Severity::Problem,
            "firmware file " + quote(name) +
                " cannot be opened (looked up as Windows does: letter case ignored, backslash "
                "between folders, from the package folder)");
        return;
    }
    FirmwareFacts facts;
    std::vector<std::uint8_t> raw;
    if (firmware::readWholeFile(*path, raw)) facts.hint = firmwareFileHint(raw);
    facts.diagnostics = loaded.diagnostics;
    facts.loadResult = loaded.result;
    facts.lowAddress = loaded.image->imageLowAddress;
    facts.highAddress = loaded.image->imageHighAddress;
    facts.holdsData = loaded.image->holdsData();
    facts.plan =
        firmware::planFlash(*loaded.image, headerIdentity(readerOfRow(check.row), check.row));
    check.firmware = std::move(facts);
    checkLoadedFirmware(check, loaded);
}

}  // namespace firmtool
