#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "firmtool.h"
#include "firmware/byte_source.h"
#include "firmware/srecord_reader.h"
#include "package_check.h"

namespace firmtool {

namespace {

// The name the update program opens its table by, beside itself.
constexpr const char* kTableFileName = "firmtable.txt";

void printLine(const std::string& text) {
    std::printf("%s\n", text.c_str());
}

void printRowTitle(const RowCheck& check) {
    const std::string number = "row " + std::to_string(check.lineNumber) + ": ";
    if (check.isEmptyLine()) {
        printLine(number + "empty line, passed over");
        return;
    }
    if (!check.readByProgram) {
        printLine(number + quote(check.line));
        return;
    }
    const firmware::FirmwareTableRow& row = check.row;
    printLine(number + row.keyVendorId + " " + row.keyProductId + " " + row.keyRevision + " " +
              quote(row.keyProductName) + " -> " + row.newProductId + " " +
              quote(row.newProductName) + ", hand-off revision " + row.handoffRevision);
    printLine("  header name " + quote(row.headerName) +
              (firmware::scramblingEnabled(row.headerName) ? " (blocks scrambled)"
                                                           : " (blocks not scrambled)"));
    printLine("  matches on " + generationText(check.generations));
}

// What the file's form says comes before the loader's diagnostics, which it
// usually explains.
void printLoad(const RowCheck& check) {
    if (!check.firmware) return;
    if (!check.firmware->hint.empty()) printLine("  hint: " + check.firmware->hint);
    check.firmware->diagnostics.print();
}

void printFirmware(const RowCheck& check) {
    if (!check.firmware) return;
    const FirmwareFacts& facts = *check.firmware;
    std::string text = "  file " + quote(check.row.firmwareFileName) +
                       ": result=" + std::to_string(facts.loadResult);
    // A file that stores no byte has bounds but nothing to send: no plan is shown.
    if (facts.loadResult == firmware::kLoadOk && facts.holdsData) {
        const firmware::HeaderBlockFields& header = facts.plan.header;
        text +=
            " range=" + hex(facts.lowAddress) + "-" + hex(facts.highAddress) +
            " imageStart=" + hex(header.imageStart) + " imageLength=" + hex(header.imageLength) +
            " imageChecksum=" + hex(header.imageChecksum) + " blocks=" + hex(facts.plan.blockCount);
    }
    printLine(text);
}

void printFindings(const RowCheck& check) {
    for (const Finding& finding : check.findings) {
        printLine((finding.severity == Severity::Problem ? "  problem: " : "  warning: ") +
                  finding.text);
    }
    if (check.findings.empty() && !check.isEmptyLine()) printLine("  ok");
}

struct Totals {
    std::size_t rows = 0;
    std::size_t working = 0;
    std::size_t broken = 0;
    std::size_t warnings = 0;
};

void countRow(Totals& totals, const RowCheck& check) {
    if (check.isEmptyLine() && check.readByProgram) return;
    ++totals.rows;
    ++(check.canWork() ? totals.working : totals.broken);
    totals.warnings += check.count(Severity::Warning);
}

int printSummary(const Totals& totals) {
    printLine("summary: " + std::to_string(totals.rows) + " rows, " +
              std::to_string(totals.working) + " can work, " + std::to_string(totals.broken) +
              " can never work, " + std::to_string(totals.warnings) + " warnings");
    if (totals.rows == 0) {
        printLine("problem: the table has no rows, so no reader can be updated");
        return kExitRefused;
    }
    return totals.broken == 0 ? kExitSuccess : kExitRefused;
}

}  // namespace

int runCheck(const Arguments& arguments) {
    const std::string& directory = arguments.positionals[0];
    std::error_code error;
    std::filesystem::current_path(directory, error);
    if (error) return fail(kExitFileError, "cannot enter directory " + directory);

    std::vector<std::uint8_t> raw;
    if (!firmware::readWholeFile(kTableFileName, raw)) {
        return fail(kExitFileError, "cannot read " + directory + "/" + kTableFileName);
    }
    printLine("package " + directory + ": " + kTableFileName + ", " +
              hex(static_cast<std::uint32_t>(raw.size())) + " raw bytes");
    if (const std::string hint = tableHint(raw); !hint.empty()) printLine("hint: " + hint);
    Totals totals;
    for (RowCheck& check : checkTableRows(raw)) {
        printRowTitle(check);
        if (firmwareIsCheckable(check)) checkRowFirmware(check);
        printLoad(check);
        printFirmware(check);
        printFindings(check);
        countRow(totals, check);
    }
    return printSummary(totals);
}

}  // namespace firmtool
