#include "format/format_dialog.h"

#include "format/format_templates.h"
#include "format/marker.h"

namespace format {

namespace {

constexpr std::size_t kSenseKeyByte = 2;
constexpr std::uint8_t kSenseKeyMask = 0x0F;
constexpr std::uint8_t kSenseKeyNotReady = 2;
constexpr std::size_t kProgressHighByte = 16;
constexpr std::size_t kProgressLowByte = 17;
constexpr int kByteShift = 8;
constexpr std::uint32_t kProgressRangeMax = 0xFFFF;
constexpr int kProgressStart = 0;
constexpr win::DWORD kFirstPollDelayMs = 1000;
constexpr win::DWORD kPollIntervalMs = 2000;
constexpr int kQuitExitCode = 0;
// A reader that stops answering REQUEST SENSE may still be formatting, so a
// lost poll does not end the polling; this many in a row do.
constexpr int kFailedPollsThatEndPolling = 5;

bool formatStillRunning(const std::array<std::uint8_t, device::kRequestSenseLength>& sense) {
    return (sense[kSenseKeyByte] & kSenseKeyMask) == kSenseKeyNotReady;
}

// The polls so far: whether the latest was answered, and how many in a row
// were lost.
struct PollRun {
    bool latestAnswered = false;
    int lostInRow = 0;

    void record(bool answered) {
        latestAnswered = answered;
        lostInRow = answered ? 0 : lostInRow + 1;
    }

    bool goesOn(const std::array<std::uint8_t, device::kRequestSenseLength>& sense) const {
        if (!latestAnswered) return lostInRow < kFailedPollsThatEndPolling;
        return formatStillRunning(sense);
    }
};

int progressIndication(const std::array<std::uint8_t, device::kRequestSenseLength>& sense) {
    return (sense[kProgressHighByte] << kByteShift) | sense[kProgressLowByte];
}

}  // namespace

FormatDialog::FormatDialog(const platform::Services& services, shell::Application& application)
    : shell::MainDialog(services.ui),
      writeProtectedNotice_(services.ui, templateNumber(FormatTemplate::WriteProtected)),
      notReadyNotice_(services.ui, templateNumber(FormatTemplate::NotReady)),
      driveSelectDialog_(services.ui, services.system, deviceLink),
      confirmNotice_(services.ui, templateNumber(FormatTemplate::ConfirmFormat)),
      revisionDiffersNotice_(services.ui, templateNumber(FormatTemplate::RevisionDiffers)),
      revisionMatchesNotice_(services.ui, templateNumber(FormatTemplate::RevisionMatches)),
      standAloneDoneNotice_(services.ui, templateNumber(FormatTemplate::StandAloneDone)),
      mediumAbsentNotice_(services.ui, templateNumber(FormatTemplate::MediumAbsent)),
      progressDialog_(services.ui, templateNumber(FormatTemplate::Progress), kProgressBarControl),
      notFormattedNotice_(services.ui, templateNumber(FormatTemplate::NotFormatted)),
      // A volume that cannot be opened is not reported here: the not-ready
      // notice that follows says all the user needs to know.
      deviceLink(services.volumes, services.registry, services.clock,
                 device::WriteProtectRule::WpBitOnly),
      services_(services),
      application_(application) {}

void FormatDialog::runFormatProcedure() {
    if (startMode == StartMode::StandAlone && !chooseDrive()) {
        quit();
        return;
    }
    if (!waitForMedium()) {
        deleteMarkerKey(services_.registry);
        quit();
        return;
    }
    waitUntilWritable();
    // Provisional: the window goes away now, and finish() replaces the result
    // with OK once the closing notice has been shown.
    endDialog(win::IDCANCEL);
    finish(formatMedium());
}

// False when the user cancelled the drive selection.
bool FormatDialog::chooseDrive() {
    const win::INT_PTR first = driveSelectDialog_.doModal();
    if (first == win::IDCANCEL) return false;
    // A drive selection that could not be shown leaves the drive as it was.
    if (first != win::IDOK) return true;
    while (confirmNotice_.doModal() == win::IDCANCEL) {
        if (driveSelectDialog_.doModal() == win::IDCANCEL) return false;
    }
    selectedDriveRoot = driveSelectDialog_.selectedDrive;
    return true;
}

// False when the user gave up waiting for a medium.
bool FormatDialog::waitForMedium() {
    while (deviceLink.testUnitReady(selectedDriveRoot) == 0) {
        if (notReadyNotice_.doModal() == win::IDCANCEL) return false;
    }
    return true;
}

// The user's only way on is to remove the protection, or the medium itself:
// a medium that is gone reads as writable, and the next step notices it.
void FormatDialog::waitUntilWritable() {
    deviceLink.checkWriteProtect(selectedDriveRoot);
    while (deviceLink.mediaWritable == 0) {
        writeProtectedNotice_.doModal();
        deviceLink.checkWriteProtect(selectedDriveRoot);
    }
}

// Whether the medium is still there is asked after each step, and the polls
// tell how far the format got. True only when the reader took the format
// command and a poll it answered said the format was over.
// No lock is taken on the volume: every command here opens its own handle,
// and a lock held elsewhere would shut them out.
bool FormatDialog::formatMedium() {
    SenseBuffer sense{};
    deviceLink.requestSense(selectedDriveRoot, sense);
    deviceLink.testUnitReady(selectedDriveRoot);
    if (mediumGoneAndUserStops()) return false;

    const bool formatAccepted = deviceLink.formatMedia(selectedDriveRoot) == 1;
    deviceLink.testUnitReady(selectedDriveRoot);
    if (mediumGoneAndUserStops()) return false;

    const bool seenToEnd = followProgress();
    return formatAccepted && seenToEnd;
}

bool FormatDialog::followProgress() {
    openProgressWindow();
    services_.clock.Sleep(kFirstPollDelayMs);
    const bool seenToEnd = pollUntilOver();
    progressDialog_.close();
    return seenToEnd;
}

// True when the polling ended on an answered poll that no longer reports the
// format running; false when the user stopped it or the polls were lost.
bool FormatDialog::pollUntilOver() {
    SenseBuffer sense{};
    PollRun polls;
    polls.record(poll(sense));
    if (mediumGoneAndUserStops()) return false;
    while (polls.goesOn(sense)) {
        // A quit met here is posted again, so it ends the program once the
        // format is over rather than in the middle of it.
        if (application_.pumpPendingMessages()) quitDuringFormat_ = true;
        // A lost poll says nothing of the progress: the bar stays where it was.
        if (polls.latestAnswered) progressDialog_.setPosition(progressIndication(sense));
        services_.clock.Sleep(kPollIntervalMs);
        polls.record(poll(sense));
        if (mediumGoneAndUserStops()) return false;
    }
    return polls.latestAnswered;
}

void FormatDialog::openProgressWindow() {
    progressDialog_.open();
    progressDialog_.setRange32(kProgressRangeMax);
    progressDialog_.setPosition(kProgressStart);
    progressDialog_.showNow();
}

// False when the REQUEST SENSE itself failed: the zeroed buffer then says
// nothing about the format. Judged before TEST UNIT READY replaces the code.
bool FormatDialog::poll(SenseBuffer& sense) {
    sense.fill(0);
    deviceLink.requestSense(selectedDriveRoot, sense);
    const bool answered =
        (deviceLink.lastSenseCode & device::kCommandFailed) != device::kCommandFailed;
    deviceLink.testUnitReady(selectedDriveRoot);
    return answered;
}

bool FormatDialog::mediumGoneAndUserStops() {
    if ((deviceLink.lastSenseCode & device::kSenseBitsMask) != device::kMediumNotPresent) {
        return false;
    }
    return mediumAbsentNotice_.doModal() == win::IDOK;
}

// A format not seen to finish is told first; the closing notice that follows
// then speaks only of what is known.
void FormatDialog::finish(bool formatSeenToFinish) {
    if (!formatSeenToFinish) notFormattedNotice_.doModal();
    if (startMode == StartMode::AfterUpdate) {
        shell::NoticeDialog& closing = deviceLink.usbRevision == markerRevision
                                           ? revisionMatchesNotice_
                                           : revisionDiffersNotice_;
        closing.doModal();
    } else {
        standAloneDoneNotice_.doModal();
    }
    // A quit asked for during the format ends the dialog without OK, so
    // start-up keeps the marker. Left to the modal loop, the result would
    // depend on whether the loop sees the quit or the end first.
    if (!quitDuringFormat_) endDialog(win::IDOK);
}

// The main dialog stays up until the quit request ends its modal loop, which
// then returns without OK.
void FormatDialog::quit() {
    services_.ui.PostQuitMessage(kQuitExitCode);
}

}  // namespace format
