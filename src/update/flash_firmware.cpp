#include "firmware/srecord_reader.h"
#include "update/update_dialog.h"

namespace update {

namespace {

constexpr int kProgressStep = 1;
constexpr int kProgressStart = 0;
constexpr std::uint16_t kHeaderBlockNumber = 0;

}  // namespace

// Everything before the reader is touched: the file is read and closed, the
// plan made. False when there is nothing to flash; only a file that cannot be
// opened is reported, a load failure is not.
bool UpdateDialog::loadImage() {
    SystemFile file(system_);
    if (!file.open(firmwareFileName)) {
        fileCannotOpen_.doModal();
        return false;
    }
    const std::uint8_t loaded = firmware::loadFirmwareImage(file, firmwareImage);
    // A read error ends the loader's input early, so what it holds is not the
    // whole firmware even when the load looks complete.
    if (loaded != firmware::kLoadOk || file.readFailed()) return false;
    const bool anythingToSend = firmwareImage.holdsData();
    flashPlan = firmware::planFlash(
        firmwareImage,
        firmware::HeaderIdentity{deviceLink.usbVendorId, deviceLink.usbProductId,
                                 deviceLink.usbRevision, deviceLink.inquiryProduct, headerName});
    firmwareImage.imageHighAddress = flashPlan.imageHighAddress;
    file.close();
    return anythingToSend;
}

// The header and the data blocks over the held volume. A refused block is
// reported; OK there stops, any other answer goes on to the next block, but
// the flash then no longer counts as a success. False when it stopped or any
// block was refused.
bool UpdateDialog::sendBlocks() {
    bool everyBlockAccepted = true;
    const auto refused = [&] {
        everyBlockAccepted = false;
        return flashFailure_.doModal() == win::IDOK;
    };
    if (deviceLink.writeFirmwareBlock(flashPlan.headerBlock, kHeaderBlockNumber) != 1 &&
        refused()) {
        return false;
    }
    firmware::Block block{};
    for (int k = 1; k <= flashPlan.blockCount; ++k) {
        const auto number = static_cast<std::uint16_t>(k);
        application_.pumpPendingMessages();
        firmware::copyDataBlock(firmwareImage, number, flashPlan.scrambled, block);
        if (deviceLink.writeFirmwareBlock(block, number) != 1 && refused()) return false;
        progress_.stepIt();
    }
    return everyBlockAccepted;
}

int UpdateDialog::flashFirmware(std::string driveRoot) {
    if (!loadImage()) return 0;

    progress_.open();
    progress_.setRange16(flashPlan.blockCount);
    progress_.setStep(kProgressStep);
    progress_.setPosition(kProgressStart);
    progress_.showNow();

    // The volume must be had; the user may let go of it and try again, but
    // there is no way past this loop without the lock.
    while (deviceLink.lockVolume(driveRoot) == 0) {
        if (deviceAccessFailure_.doModal() == win::IDOK) deviceLink.unlockVolume();
    }
    const bool sent = sendBlocks();
    progress_.close();
    deviceLink.unlockVolume();
    return sent ? 1 : 0;
}

}  // namespace update
