#include "format_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace formattest {

namespace {

constexpr win::UINT kAboutMenuString = 101;
constexpr int kAppIcon = 156;
// As the update program spells it; the registry does not mind the case.
constexpr const char* kMarkerKey = "SOFTWARE\\Kavo Corporation\\Pendrel";

const std::vector<int> kLibraryTemplates = {
    kAboutBox,        kMainDialog,    kWriteProtected,      kNotReady,    kRevisionDiffers,
    kRevisionMatches, kVersionNotice, kAdministratorNotice, kDriveSelect, kNothingSelected,
    kConfirmFormat,   kNoReader,      kMediumAbsent,        kProgress,    kNotFormatted,
};

}  // namespace

void ScheduledClock::Sleep(win::DWORD milliseconds) {
    sleeps_.push_back(milliseconds);
    now_ += milliseconds;
    // The polls wait between passes; a loop that never ends shows as time
    // running on far past any format.
    if (now_ > kTimeLimitMs) {
        ADD_FAILURE() << "more than " << kTimeLimitMs
                      << " ms of virtual time; the program is looping";
        throw std::runtime_error("time guard");
    }
    while (!timetable_.empty() && timetable_.begin()->first <= now_) {
        const auto action = timetable_.begin()->second;
        timetable_.erase(timetable_.begin());
        action();
    }
}

void ScheduledClock::at(win::DWORD tick, std::function<void()> action) {
    timetable_.emplace(tick, std::move(action));
}

std::vector<TimedEvent> FormatUi::eventsNamed(const std::string& what) const {
    std::vector<TimedEvent> found;
    std::copy_if(events_.begin(), events_.end(), std::back_inserter(found),
                 [&](const TimedEvent& event) { return event.what == what; });
    return found;
}

std::vector<int> FormatUi::shownTemplates() const {
    std::vector<int> shown;
    for (const TimedEvent& event : eventsNamed("modal"))
        shown.push_back(static_cast<int>(event.value));
    return shown;
}

void FormatUi::stamp(std::string what, long long value) {
    events_.push_back({std::move(what), value, clock_.GetTickCount()});
}

win::INT_PTR FormatUi::DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) {
    stamp("modal", templateId);
    // The program's loops end only by the user's answers; a script that never
    // gives the right one would otherwise keep the test running for ever.
    if (++modalRuns_ > kModalRunLimit) {
        ADD_FAILURE() << "the scripted user answered more than " << kModalRunLimit
                      << " dialogs; the program is looping";
        throw std::runtime_error("loop guard");
    }
    return inner_.DialogBoxParamA(templateId, procedure);
}

win::HWND FormatUi::CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) {
    stamp("create", templateId);
    return inner_.CreateDialogParamA(templateId, procedure);
}

win::BOOL FormatUi::DestroyWindow(win::HWND window) {
    stamp("destroy", 0);
    return inner_.DestroyWindow(window);
}

win::BOOL FormatUi::ShowWindow(win::HWND window, int command) {
    stamp("show", command);
    return inner_.ShowWindow(window, command);
}

win::BOOL FormatUi::RedrawWindow(win::HWND window, win::UINT flags) {
    stamp("redraw", flags);
    return inner_.RedrawWindow(window, flags);
}

win::BOOL FormatUi::CenterWindow(win::HWND window) {
    stamp("center", 0);
    return inner_.CenterWindow(window);
}

ComboBox& FormatUi::combo(win::HWND dialog, int controlId) {
    const auto key = std::make_pair(dialog, controlId);
    const auto found = comboIndex_.find(key);
    if (found != comboIndex_.end()) return combos_[found->second];
    comboIndex_[key] = combos_.size();
    return combos_.emplace_back();
}

void FormatUi::selectInCombo(win::HWND dialog, int controlId, win::LRESULT index) {
    combo(dialog, controlId).selection = index;
}

win::LRESULT FormatUi::comboMessage(ComboBox& box, win::UINT message, win::WPARAM wParam,
                                    win::LPARAM lParam) {
    const bool validIndex = wParam < box.entries.size();
    switch (message) {
        case win::CB_ADDSTRING:
            box.entries.emplace_back(reinterpret_cast<const char*>(lParam));
            return static_cast<win::LRESULT>(box.entries.size() - 1);
        case win::CB_SETCURSEL:
            box.selection = validIndex ? static_cast<win::LRESULT>(wParam) : win::CB_ERR;
            return box.selection;
        case win::CB_GETCURSEL:
            return box.selection;
        case win::CB_GETCOUNT:
            return static_cast<win::LRESULT>(box.entries.size());
        case win::CB_GETLBTEXTLEN:
            return validIndex ? static_cast<win::LRESULT>(box.entries[wParam].size()) : win::CB_ERR;
        case win::CB_GETLBTEXT: {
            if (!validIndex) return win::CB_ERR;
            const std::string& text = box.entries[wParam];
            std::memcpy(reinterpret_cast<char*>(lParam), text.c_str(), text.size() + 1);
            return static_cast<win::LRESULT>(text.size());
        }
        default:
            return 0;
    }
}

win::LRESULT FormatUi::SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                           win::WPARAM wParam, win::LPARAM lParam) {
    inner_.SendDlgItemMessageA(dialog, controlId, message, wParam, lParam);
    if (controlId == kDriveCombo) {
        return comboMessage(combo(dialog, controlId), message, wParam, lParam);
    }
    if (controlId == kProgressBar) {
        if (message == win::PBM_SETRANGE32) stamp("range", lParam);
        if (message == win::PBM_SETPOS) stamp("position", static_cast<long long>(wParam));
    }
    return 0;
}

FormatMachine::FormatMachine() {
    // The program's own resources: the About box, its menu text and the icon.
    fakeUi.programResources() = testsupport::FakeResources{
        {kAboutBox}, {{kAboutMenuString, "&About Ardlow..."}}, {kAppIcon}};
    system.localeName = "ENU";
}

sim::ScsiReply HookedReader::execute(const sim::ScsiCommand& command) {
    if (!command.cdb.empty()) {
        const auto key = std::make_pair(command.cdb[0], ++seen_[command.cdb[0]]);
        const auto [first, last] = hooks_.equal_range(key);
        for (auto hook = first; hook != last; ++hook) hook->second();
    }
    return reader.execute(command);
}

void HookedReader::before(std::uint8_t operationCode, int occurrence,
                          std::function<void()> action) {
    hooks_.emplace(std::make_pair(operationCode, occurrence), std::move(action));
}

HookedReader& FormatMachine::addReader(char letter, sim::ReaderIdentity identity,
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
    HookedReader& reader = readers_.emplace_back(clock, std::move(identity));
    addDrive(letter, win::DRIVE_REMOVABLE);
    volumes.attach(letter, reader);
    return reader;
}

void FormatMachine::addDrive(char letter, win::UINT type) {
    system.driveTypes[letter] = type;
}

void FormatMachine::installEnglishLibrary(const std::set<int>& missing) {
    testsupport::FakeResources resources;
    for (const int id : kLibraryTemplates) {
        if (missing.count(id) == 0) resources.templates.insert(id);
    }
    resources.strings[kAboutMenuString] = "&About Ardlow...";
    resources.icons.insert(kAppIcon);
    system.libraries[kEnglishLibrary] = fakeUi.addModule(std::move(resources));
}

void FormatMachine::useEnglishLibrary(const std::set<int>& missing) {
    installEnglishLibrary(missing);
    ui.setResourceModule(system.libraries[kEnglishLibrary]);
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

std::vector<std::uint8_t> FormatMachine::operationsSentTo(char letter) const {
    std::vector<std::uint8_t> operations;
    for (const sim::PassThroughRecord& record : volumes.passThroughs()) {
        if (record.letter == letter && !record.cdb.empty()) operations.push_back(record.cdb[0]);
    }
    return operations;
}

std::vector<std::uint8_t> FormatMachine::allOperations() const {
    std::vector<std::uint8_t> operations;
    for (const sim::PassThroughRecord& record : volumes.passThroughs()) {
        if (!record.cdb.empty()) operations.push_back(record.cdb[0]);
    }
    return operations;
}

}  // namespace formattest
