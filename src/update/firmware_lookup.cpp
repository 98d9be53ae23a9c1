#include <optional>
#include <vector>

#include "firmware/firmware_table.h"
#include "update/update_dialog.h"

namespace update {

bool readFirmwareTableText(SystemFile& file, std::string& tableText) {
    std::vector<std::uint8_t> raw;
    if (!file.readFromStart(firmware::kTableReadLimit, raw)) return false;
    tableText = firmware::decodeFirmwareTableText(raw);
    return true;
}

int UpdateDialog::lookUpFirmwareRow() {
    std::string tableText;
    SystemFile table(system_);
    if (!table.open(kFirmwareTablePath) || !readFirmwareTableText(table, tableText)) {
        fileCannotOpen_.doModal();
        return 0;
    }
    const std::optional<firmware::FirmwareTableRow> row = firmware::findFirmwareRow(
        tableText, firmware::ReaderIdentity{deviceLink.usbVendorId, deviceLink.usbProductId,
                                            deviceLink.usbRevision, deviceLink.inquiryProduct});
    table.close();
    if (!row) {
        noTableRow_.doModal();
        return 0;
    }
    // From here on the link carries what the reader is to become; the flash
    // puts exactly these into the header.
    firmwareFileName = row->firmwareFileName;
    deviceLink.inquiryProduct = row->newProductName;
    deviceLink.usbProductId = row->newProductId;
    matchedProductName = row->keyProductName;
    headerName = row->headerName;
    handoffRevision = row->handoffRevision;
    return 1;
}

}  // namespace update
