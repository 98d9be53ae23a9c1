#include <string>
#include <vector>

#include "firmtool.h"
#include "firmware/firmware_table.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"

namespace firmtool {

namespace {

// A stream is only written for an image the reader can live with.
int refuseUnflashable(const std::string& path, const LoadedFirmware& loaded) {
    if (loaded.result != firmware::kLoadOk) {
        return fail(kExitRefused, "refused: firmware file " + quote(path) +
                                      " does not load (result=" + std::to_string(loaded.result) + ")");
    }
    if (!loaded.image->holdsData()) {
        return fail(kExitRefused, "refused: firmware file " + quote(path) +
                                      " holds no data; the reader would be left without firmware");
    }
    return kExitSuccess;
}

void printPlan(const firmware::FlashPlan& plan) {
    printHexField("imageStart", plan.header.imageStart);
    printHexField("imageLength", plan.header.imageLength);
    printHexField("imageChecksum", plan.header.imageChecksum);
    printHexField("blocks", plan.blockCount);
    printField("scrambled", plan.scrambled ? "yes" : "no");
}

}  // namespace

int runImage(const Arguments& arguments) {
    const std::string& path = arguments.positionals[0];
    LoadedFirmware loaded;
    if (!loadFirmwareFile(path, loaded)) return fail(kExitFileError, "cannot read " + path);
    if (const std::string* out = arguments.option("out")) {
        if (!writeWholeFile(*out, loaded.image->imageBytes)) {
            return fail(kExitFileError, "cannot write " + *out);
        }
    }
    // The load result is a code (0, 1 or 2), not a quantity: it prints as it stands.
    printField("result", std::to_string(loaded.result));
    printHexField("imageLowAddress", loaded.image->imageLowAddress);
    printHexField("imageHighAddress", loaded.image->imageHighAddress);
    return kExitSuccess;
}

int runStream(const Arguments& arguments) {
    const std::string& tablePath = arguments.positionals[0];
    std::string text;
    if (!readTableText(tablePath, text)) return fail(kExitFileError, "cannot read " + tablePath);
    const firmware::ReaderIdentity reader = readerFromArguments(arguments);
    const auto row = firmware::findFirmwareRow(text, reader);
    if (!row) return fail(kExitRefused, "no matching row");

    LoadedFirmware loaded;
    if (!loadFirmwareFile(row->firmwareFileName, loaded)) {
        return fail(kExitFileError, "cannot read firmware file " + quote(row->firmwareFileName));
    }
    if (const int refused = refuseUnflashable(row->firmwareFileName, loaded)) return refused;

    const firmware::FlashPlan plan =
        firmware::planFlash(*loaded.image, headerIdentity(reader, *row));
    const std::string& out = *arguments.option("out");
    if (!writeWholeFile(out, firmware::buildBlockStream(*loaded.image, plan))) {
        return fail(kExitFileError, "cannot write " + out);
    }
    printPlan(plan);
    return kExitSuccess;
}

}  // namespace firmtool
