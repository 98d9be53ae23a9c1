#include <string>
#include <vector>

#include "firmtool.h"
#include "firmware/byte_source.h"
#include "firmware/firmware_table.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"

namespace firmtool {

namespace {

// Firmware names in a table are taken from the folder the tool runs in, as
// the update program takes them from its current directory.
constexpr std::string_view kCurrentFolder = ".";

// What the form of the file says about a load that went wrong, or "".
std::string hintFor(const std::string& path) {
    std::vector<std::uint8_t> raw;
    if (!firmware::readWholeFile(path, raw)) return "";
    return firmwareFileHint(raw);
}

std::string withHint(std::string message, const std::string& hint) {
    return hint.empty() ? message : message + "; " + hint;
}

void printEndingRecord(const LoadedFirmware& loaded) {
    if (!loaded.endingRecord) return;
    printField("endingRecordLine", std::to_string(loaded.endingRecord->line));
    printField("endingRecordType", "S" + std::string(1, loaded.endingRecord->type));
    printHexField("endingRecordAddress", loaded.endingRecord->address);
}

// A stream is only written for an image the reader can live with.
int refuseUnflashable(const std::string& name, const std::string& path,
                      const LoadedFirmware& loaded) {
    if (loaded.result != firmware::kLoadOk) {
        return fail(kExitRefused, withHint("refused: firmware file " + quote(name) +
                                               " does not load: " + describeLoadFailure(loaded),
                                           hintFor(path)));
    }
    if (!loaded.image->holdsData()) {
        return fail(kExitRefused,
                    withHint("refused: firmware file " + quote(name) +
                                 " holds no data; the reader would be left without firmware",
                             hintFor(path)));
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
    loaded.diagnostics.print();
    if (const std::string* out = arguments.option("out")) {
        if (!writeWholeFile(*out, loaded.image->imageBytes)) {
            return fail(kExitFileError, "cannot write " + *out);
        }
    }
    // The load result is a code (0, 1 or 2), not a quantity: it prints as it stands.
    printField("result", std::to_string(loaded.result));
    printHexField("imageLowAddress", loaded.image->imageLowAddress);
    printHexField("imageHighAddress", loaded.image->imageHighAddress);
    printEndingRecord(loaded);
    if (loaded.result != firmware::kLoadOk) {
        return fail(kExitRefused, withHint(path + " does not load: " + describeLoadFailure(loaded),
                                           hintFor(path)));
    }
    if (loaded.diagnostics.total() != 0 || !loaded.image->holdsData()) {
        if (const std::string hint = hintFor(path); !hint.empty()) warn(path + ": " + hint);
    }
    return kExitSuccess;
}

int runStream(const Arguments& arguments) {
    const std::string& tablePath = arguments.positionals[0];
    std::string text;
    std::string tableHint;
    if (!readTableText(tablePath, text, tableHint)) {
        return fail(kExitFileError, "cannot read " + tablePath);
    }
    const firmware::ReaderIdentity reader = readerFromArguments(arguments);
    const auto row = firmware::findFirmwareRow(text, reader);
    if (!row) return fail(kExitRefused, noMatchMessage(tablePath, tableHint));

    const std::string& name = row->firmwareFileName;
    const std::optional<std::string> path = firmwareFilePath(kCurrentFolder, name);
    LoadedFirmware loaded;
    if (!path || !loadFirmwareFile(*path, loaded)) {
        return fail(kExitFileError, "cannot open firmware file " + quote(name) +
                                        " from the current folder as the update program would");
    }
    loaded.diagnostics.print();
    if (const int refused = refuseUnflashable(name, *path, loaded)) return refused;

    const firmware::FlashPlan plan =
        firmware::planFlash(*loaded.image, headerIdentity(reader, *row));
    const std::string& out = *arguments.option("out");
    if (!writeWholeFile(out, firmware::buildBlockStream(*loaded.image, plan))) {
        return fail(kExitFileError, "cannot write " + out);
    }
    printPlan(plan);
    const firmware::BlockReach reach = firmware::blockReach(plan.header, plan.blockCount);
    if (!reach.claimedRangeCarried()) {
        warn("the reader will not take this stream and keeps its old firmware: " +
             firmware::describeUncarriedRange(reach));
        return kExitRefused;
    }
    return kExitSuccess;
}

}  // namespace firmtool
