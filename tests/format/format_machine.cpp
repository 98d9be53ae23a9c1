#include "format_machine.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace formattest {

namespace {

constexpr std::size_t kAnswerLimit = 200;
// The polls wait between passes; a loop that never ends shows as time
// running on far past any format.
constexpr std::uint64_t kTimeLimitMs = 60 * 60 * 1000;
// As the update program spells it; the registry does not mind the case.
constexpr const char* kMarkerKey = "SOFTWARE\\Kavo Corporation\\Pendrel";

}  // namespace

FormatMachine::FormatMachine() {
    process.simUi.setProgramResources(testsupport::repositoryScript("ardlow.rc"));
    ui.stampWith(clock);
    // The program's loops end only by the user's answers; a script that never
    // gives the right one would otherwise keep the test running for ever.
    process.simUi.setLoopGuard({.maxAnswers = kAnswerLimit});
    process.simUi.setGuardHandler([] {
        ADD_FAILURE() << "the scripted user answered more than " << kAnswerLimit
                      << " times; the program is looping";
        throw std::runtime_error("loop guard");
    });
    clock.at(kTimeLimitMs + 1, [] {
        ADD_FAILURE() << "more than " << kTimeLimitMs
                      << " ms of virtual time; the program is looping";
        throw std::runtime_error("time guard");
    });
}

std::vector<TimedEvent> FormatMachine::events() const {
    std::vector<TimedEvent> events;
    for (const testsupport::UiCall& call : ui.calls()) {
        const auto stamp = [&](const char* what, long long value) {
            events.push_back({what, value, call.tick});
        };
        if (call.name == "DialogBoxParamA") stamp("modal", call.id);
        if (call.name == "CreateDialogParamA") stamp("create", call.id);
        if (call.name == "DestroyWindow") stamp("destroy", 0);
        if (call.name == "ShowWindow") stamp("show", call.id);
        if (call.name == "RedrawWindow") stamp("redraw", call.id);
        if (call.name == "CenterWindow") stamp("center", 0);
        if (call.name != "SendDlgItemMessageA" || call.id != kProgressBar) continue;
        if (call.message == win::PBM_SETRANGE32) stamp("range", call.lParam);
        if (call.message == win::PBM_SETPOS) stamp("position", static_cast<long long>(call.wParam));
    }
    return events;
}

std::vector<TimedEvent> FormatMachine::eventsNamed(const std::string& what) const {
    std::vector<TimedEvent> found;
    for (const TimedEvent& event : events()) {
        if (event.what == what) found.push_back(event);
    }
    return found;
}

std::vector<int> FormatMachine::shownTemplates() const {
    std::vector<int> shown;
    for (const TimedEvent& event : eventsNamed("modal")) {
        shown.push_back(static_cast<int>(event.value));
    }
    return shown;
}

std::vector<ComboBox> FormatMachine::comboBoxes() const {
    std::vector<ComboBox> boxes;
    for (const testsupport::DialogLog::Combo& combo : process.screen.combos) {
        boxes.push_back({combo.state.items, combo.state.selection});
    }
    return boxes;
}

void FormatMachine::selectInCombo(win::HWND dialog, win::LRESULT index) {
    EXPECT_TRUE(process.simUi.act(dialog, sim::UserAction::select(static_cast<int>(index))));
}

bool FormatMachine::deliver(win::HWND window, win::UINT message, win::WPARAM wParam,
                            win::LPARAM lParam, win::LRESULT& result) {
    result = 0;
    platform::DialogProcedure* procedure = process.simUi.dialogProcedure(window);
    return procedure != nullptr && procedure->windowProc(window, message, wParam, lParam, result);
}

sim::VirtualReader& FormatMachine::addReader(char letter, sim::ReaderIdentity identity,
                                             std::optional<std::uint16_t> usbRevision) {
    if (usbRevision) {
        sim::UsbStorageDevice device;
        device.driveLetter = letter;
        device.vendor = identity.vendor;
        device.product = identity.product;
        device.revision = identity.revision;
        device.vendorId = kUsbVendorId;
        device.productId = kUpdatedUsbProductId;
        device.deviceRevision = *usbRevision;
        device.hubPort = static_cast<unsigned>(letter - 'A');
        usbRecords.attach(device);
    }
    sim::VirtualReader& reader = readers_.emplace_back(clock, std::move(identity));
    addDrive(letter, win::DRIVE_REMOVABLE);
    volumes.attach(letter, reader);
    return reader;
}

void FormatMachine::addDrive(char letter, win::UINT type) {
    setup.drives[letter].type = type;
}

void FormatMachine::installEnglishLibrary(const std::set<int>& missing) {
    process.offerLibrary(
        kEnglishLibrary,
        testsupport::withoutTemplates(testsupport::repositoryScript("FORMAT_ENG.rc"), missing));
}

void FormatMachine::useEnglishLibrary(const std::set<int>& missing) {
    installEnglishLibrary(missing);
    const win::HMODULE module = process.simSystem.LoadLibraryA(kEnglishLibrary);
    ASSERT_NE(module, nullptr);
    process.simUi.setResourceModule(module);
}

void FormatMachine::writeMarker(std::optional<std::string> vendor,
                                std::optional<std::string> product,
                                std::optional<std::string> revision) {
    registry.createKey(kMarkerKey);
    if (vendor) registry.setString(kMarkerKey, "vender", *vendor);
    if (product) registry.setString(kMarkerKey, "product", *product);
    if (revision) registry.setString(kMarkerKey, "rev", *revision);
}

void FormatMachine::setMarkerValue(const std::string& name, win::DWORD type,
                                   const std::vector<win::BYTE>& data) {
    registry.setValue(kMarkerKey, name, type, data);
}

bool FormatMachine::markerExists() const {
    return registry.keyExists(kMarkerKey);
}

std::vector<sim::ReaderCommand> FormatMachine::commandsSentTo(char letter) const {
    std::vector<sim::ReaderCommand> commands;
    for (const sim::PassThroughRecord& record : volumes.passThroughs()) {
        if (record.letter == letter) commands.push_back(sim::decodeCommand(record.cdb).command);
    }
    return commands;
}

std::vector<sim::ReaderCommand> FormatMachine::allCommands() const {
    std::vector<sim::ReaderCommand> commands;
    for (const sim::PassThroughRecord& record : volumes.passThroughs()) {
        commands.push_back(sim::decodeCommand(record.cdb).command);
    }
    return commands;
}

}  // namespace formattest
