#include <cstdio>
#include <string>

#include "firmtool.h"
#include "firmware/firmware_table.h"

namespace firmtool {

namespace {

constexpr char kFieldSeparator = '\t';

void printRow(const firmware::FirmwareTableRow& row) {
    const std::string fields[] = {row.keyVendorId,    row.keyProductId,    row.newProductId,
                                  row.keyProductName, row.newProductName,  row.keyRevision,
                                  row.headerName,     row.handoffRevision, row.firmwareFileName};
    std::string line = visible(fields[0]);
    for (std::size_t index = 1; index < std::size(fields); ++index) {
        line += kFieldSeparator;
        line += visible(fields[index]);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

std::string noMatchMessage(const std::string& tablePath, const std::string& hint) {
    return "no matching row" +
           (hint.empty() ? std::string() : " (" + tablePath + ": " + hint + ")");
}

firmware::ReaderIdentity readerFromArguments(const Arguments& arguments) {
    return {arguments.positionals[1], arguments.positionals[2], arguments.positionals[3],
            arguments.positionals[4]};
}

firmware::HeaderIdentity headerIdentity(const firmware::ReaderIdentity& reader,
                                        const firmware::FirmwareTableRow& row) {
    return {reader.usbVendorId, row.newProductId, reader.usbRevision, row.newProductName,
            row.headerName};
}

int runTable(const Arguments& arguments) {
    const std::string& path = arguments.positionals[0];
    std::string text;
    std::string hint;
    if (!readTableText(path, text, hint)) return fail(kExitFileError, "cannot read " + path);
    if (!hint.empty()) warn(path + ": " + hint);
    for (const firmware::FirmwareTableRow& row : firmware::firmwareTableRows(text)) printRow(row);
    return kExitSuccess;
}

int runMatch(const Arguments& arguments) {
    const std::string& path = arguments.positionals[0];
    std::string text;
    std::string hint;
    if (!readTableText(path, text, hint)) return fail(kExitFileError, "cannot read " + path);
    const auto row = firmware::findFirmwareRow(text, readerFromArguments(arguments));
    if (!row) return fail(kExitRefused, noMatchMessage(path, hint));
    printField("firmwareFileName", visible(row->firmwareFileName));
    printField("headerName", visible(row->headerName));
    printField("matchedProductName", visible(row->keyProductName));
    printField("handoffRevision", visible(row->handoffRevision));
    printField("inquiryProduct", visible(row->newProductName));
    printField("usbProductId", visible(row->newProductId));
    return kExitSuccess;
}

}  // namespace firmtool
