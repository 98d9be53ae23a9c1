#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "format/format_dialog.h"
#include "format_machine.h"
#include "shell/application.h"

namespace formattest {
namespace {

using testsupport::PrintTo;

using format::FormatDialog;
using format::StartMode;

constexpr win::INT_PTR kMissing = -1;
constexpr win::DWORD kFirstPollDelay = 1000;
constexpr win::DWORD kPollInterval = 2000;

// The format procedure run the way the user starts it: OK in the main
// dialog, on a machine with a reader on E: and the marker in the registry.
class FormatProcedureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.useEnglishLibrary();
        machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");
    }

    FormatDialog& makeDialog(StartMode mode, const std::string& root = "E:\\") {
        dialog = std::make_unique<FormatDialog>(machine.services(), application);
        dialog->startMode = mode;
        dialog->selectedDriveRoot = root;
        dialog->markerRevision = "0200";
        dialog->deviceLink.usbRevision = "0200";
        return *dialog;
    }

    win::INT_PTR pressOk() {
        machine.process.user.answer(kMainDialog, win::IDOK);
        return dialog->doModal();
    }

    win::INT_PTR runAfterUpdate(const std::string& root = "E:\\") {
        makeDialog(StartMode::AfterUpdate, root);
        return pressOk();
    }

    // Nothing the procedure opened may stay open, whichever way it ended.
    void expectNothingLeftOpen() {
        EXPECT_EQ(machine.volumes.openHandleCount(), 0u);
        EXPECT_EQ(machine.registry.openKeyCount(), 0u);
        EXPECT_EQ(machine.process.simUi.openWindows().size(), 0u);
    }

    std::vector<int> shown() const { return machine.shownTemplates(); }

    FormatMachine machine;
    sim::VirtualReader& reader = machine.addReader('E');
    shell::Application application{machine.ui};
    std::unique_ptr<FormatDialog> dialog;
};

// --- stand-alone mode: the drive selection and its confirmation ---

struct DriveChoiceCase {
    const char* name;
    std::vector<win::INT_PTR> selectAnswers;
    std::vector<win::INT_PTR> confirmAnswers;
    std::vector<int> expectedShown;
    bool formats;
};

class DriveChoiceTest : public FormatProcedureTest,
                        public ::testing::WithParamInterface<DriveChoiceCase> {};

TEST_P(DriveChoiceTest, FollowsTheUsersAnswers) {
    const DriveChoiceCase& test = GetParam();
    for (const win::INT_PTR answer : test.selectAnswers)
        machine.process.user.answer(kDriveSelect, answer);
    for (const win::INT_PTR answer : test.confirmAnswers) {
        machine.process.user.answer(kConfirmFormat, answer);
    }
    makeDialog(StartMode::StandAlone, "");

    const win::INT_PTR result = pressOk();

    EXPECT_EQ(shown(), test.expectedShown);
    if (test.formats) {
        EXPECT_EQ(result, win::IDOK);
        EXPECT_EQ(dialog->selectedDriveRoot, "E:\\");
        EXPECT_EQ(reader.completedFormats(), 1);
    } else {
        // A quit: the main dialog's loop ends without OK, no command but the
        // drive list's inquiries reached the reader, and the marker stays.
        EXPECT_EQ(result, kMissing);
        EXPECT_TRUE(machine.process.simUi.quitPending());
        for (const sim::ReaderCommand command : machine.allCommands())
            EXPECT_EQ(command, sim::ReaderCommand::Inquiry);
        EXPECT_TRUE(machine.markerExists());
    }
    expectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    StandAlone, DriveChoiceTest,
    ::testing::Values(
        DriveChoiceCase{.name = "CancelInTheSelectionQuits",
                        .selectAnswers = {win::IDCANCEL},
                        .confirmAnswers = {},
                        .expectedShown = {kMainDialog, kDriveSelect},
                        .formats = false},
        DriveChoiceCase{
            .name = "ConfirmedDriveIsFormatted",
            .selectAnswers = {win::IDOK},
            .confirmAnswers = {win::IDOK},
            .expectedShown = {kMainDialog, kDriveSelect, kConfirmFormat, kStandAloneDone},
            .formats = true},
        DriveChoiceCase{.name = "CancelInTheConfirmationAsksForTheDriveAgain",
                        .selectAnswers = {win::IDOK, win::IDOK},
                        .confirmAnswers = {win::IDCANCEL, win::IDOK},
                        .expectedShown = {kMainDialog, kDriveSelect, kConfirmFormat, kDriveSelect,
                                          kConfirmFormat, kStandAloneDone},
                        .formats = true},
        DriveChoiceCase{.name = "CancelInTheSecondSelectionQuits",
                        .selectAnswers = {win::IDOK, win::IDCANCEL},
                        .confirmAnswers = {win::IDCANCEL},
                        .expectedShown = {kMainDialog, kDriveSelect, kConfirmFormat, kDriveSelect},
                        .formats = false}),
    NameOfCase());

TEST_F(FormatProcedureTest, NoReaderClosesTheSelectionAndQuits) {
    machine.volumes.detach('E');
    machine.setup.drives.erase('E');
    makeDialog(StartMode::StandAlone, "");

    EXPECT_EQ(pressOk(), kMissing);

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kDriveSelect, kNoReader}));
    EXPECT_TRUE(machine.process.simUi.quitPending());
    EXPECT_TRUE(machine.markerExists());
    expectNothingLeftOpen();
}

TEST_F(FormatProcedureTest, MissingConfirmationTakesThePickedDrive) {
    machine.useEnglishLibrary({kConfirmFormat});
    makeDialog(StartMode::StandAlone, "");

    EXPECT_EQ(pressOk(), win::IDOK);

    EXPECT_EQ(dialog->selectedDriveRoot, "E:\\");
    EXPECT_EQ(reader.completedFormats(), 1);
}

// Without its drive selection the procedure goes on with the empty drive,
// which opens nothing: the user can only leave through the not-ready notice.
TEST_F(FormatProcedureTest, MissingSelectionGoesOnWithTheEmptyDrive) {
    machine.useEnglishLibrary({kDriveSelect});
    machine.process.user.answer(kNotReady, win::IDCANCEL);
    makeDialog(StartMode::StandAlone, "");

    EXPECT_EQ(pressOk(), kMissing);

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kDriveSelect, kNotReady}));
    EXPECT_TRUE(machine.volumes.passThroughs().empty());
    EXPECT_FALSE(machine.markerExists());
}

TEST_F(FormatProcedureTest, AfterUpdateModeNeverAsksForTheDrive) {
    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kRevisionMatches}));
    EXPECT_EQ(reader.completedFormats(), 1);
    expectNothingLeftOpen();
}

// --- waiting for a medium ---

struct NotReadyCase {
    const char* name;
    StartMode mode;
};

class NotReadyCancelTest : public FormatProcedureTest,
                           public ::testing::WithParamInterface<NotReadyCase> {};

TEST_P(NotReadyCancelTest, DeletesTheMarkerAndQuits) {
    reader.removeMedium();
    machine.process.user.answer(kNotReady, win::IDCANCEL);
    makeDialog(GetParam().mode);

    EXPECT_EQ(pressOk(), kMissing);

    EXPECT_EQ(shown().back(), kNotReady);
    EXPECT_FALSE(machine.markerExists());
    // The maker's key itself is only the marker's parent.
    EXPECT_TRUE(machine.registry.keyExists("Software\\Kavo Corporation"));
    EXPECT_TRUE(machine.process.simUi.quitPending());
    EXPECT_EQ(machine.commandsSentTo('E').back(), sim::ReaderCommand::TestUnitReady);
    expectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(BothModes, NotReadyCancelTest,
                         ::testing::Values(NotReadyCase{"AfterUpdate", StartMode::AfterUpdate},
                                           NotReadyCase{"StandAlone", StartMode::StandAlone}),
                         NameOfCase());

TEST_F(FormatProcedureTest, NotReadyRetriesUntilAMediumArrives) {
    reader.removeMedium();
    int shows = 0;
    machine.process.user.whileOpen(kNotReady, [&](win::HWND) {
        if (++shows == 3) reader.insertMedium();
    });

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_EQ(shown(),
              (std::vector<int>{kMainDialog, kNotReady, kNotReady, kNotReady, kRevisionMatches}));
    EXPECT_EQ(reader.completedFormats(), 1);
    EXPECT_TRUE(machine.markerExists());
}

TEST_F(FormatProcedureTest, CancelWithTheMarkerAlreadyGoneFailsSilently) {
    machine.registry.RegDeleteKeyA(win::hkeyLocalMachine(), "Software\\Kavo Corporation\\Pendrel");
    ASSERT_FALSE(machine.markerExists());
    reader.removeMedium();
    machine.process.user.answer(kNotReady, win::IDCANCEL);

    EXPECT_EQ(runAfterUpdate(), kMissing);

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kNotReady}));
    expectNothingLeftOpen();
}

// Start-up leaves the drive empty when no reader matched the marker. The
// volume path then names no drive: every open fails, nothing is sent, and
// the user leaves through the not-ready notice.
TEST_F(FormatProcedureTest, EmptyDriveFailsToOpenAndWaitsForTheUser) {
    machine.process.user.answer(kNotReady, win::IDOK);
    machine.process.user.answer(kNotReady, win::IDCANCEL);

    EXPECT_EQ(runAfterUpdate(""), kMissing);

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kNotReady, kNotReady}));
    ASSERT_EQ(machine.volumes.opens().size(), 2u);
    for (const sim::OpenRecord& open : machine.volumes.opens()) {
        EXPECT_EQ(open.path, "\\\\.\\:");
        EXPECT_FALSE(open.opened);
    }
    EXPECT_TRUE(machine.volumes.passThroughs().empty());
    EXPECT_FALSE(machine.markerExists());
    expectNothingLeftOpen();
}

// --- write protection ---

struct WriteProtectCase {
    const char* name;
    std::uint8_t deviceSpecificParameter;
    int noticesUntilCleared;  // 0: never protected
};

class WriteProtectTest : public FormatProcedureTest,
                         public ::testing::WithParamInterface<WriteProtectCase> {};

TEST_P(WriteProtectTest, ShowsTheNoticeUntilTheProtectionIsGone) {
    const WriteProtectCase& test = GetParam();
    reader.setDeviceSpecificParameter(test.deviceSpecificParameter);
    int shows = 0;
    machine.process.user.answerAlways(kWriteProtected,
                                      win::IDCANCEL);  // the answer changes nothing
    machine.process.user.whileOpen(kWriteProtected, [&](win::HWND) {
        if (++shows == test.noticesUntilCleared) reader.setDeviceSpecificParameter(0);
    });

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    std::vector<int> expected{kMainDialog};
    expected.insert(expected.end(), static_cast<std::size_t>(test.noticesUntilCleared),
                    kWriteProtected);
    expected.push_back(kRevisionMatches);
    EXPECT_EQ(shown(), expected);
    EXPECT_EQ(reader.completedFormats(), 1);
}

INSTANTIATE_TEST_SUITE_P(OnlyTheWpBitProtects, WriteProtectTest,
                         ::testing::Values(WriteProtectCase{"WpBitSet", 0x80, 3},
                                           WriteProtectCase{"WpBitWithOtherBits", 0x90, 1},
                                           WriteProtectCase{"OtherBitsOnly", 0x10, 0},
                                           WriteProtectCase{"AllButWp", 0x7F, 0}),
                         NameOfCase());

// A medium taken out while protected reads as writable (the mode sense
// fails); the next step finds it gone.
TEST_F(FormatProcedureTest, MediumTakenOutEndsTheWriteProtectLoop) {
    reader.setWriteProtected(true);
    machine.process.user.whileOpen(kWriteProtected, [&](win::HWND) { reader.removeMedium(); });
    machine.process.user.answer(kMediumAbsent, win::IDOK);

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kWriteProtected, kMediumAbsent, kNotFormatted,
                                         kRevisionMatches}));
    EXPECT_EQ(reader.completedFormats(), 0);
}

// --- the medium disappearing around and during the format ---

struct MediumGoneCase {
    const char* name;
    sim::ReaderCommand command;  // the medium goes just before this command...
    int occurrence;              // ...the n-th of its kind
    std::vector<win::INT_PTR> answers;
    std::vector<int> expectedShown;
    bool formatSent;
    bool progressShown;
};

class MediumGoneTest : public FormatProcedureTest,
                       public ::testing::WithParamInterface<MediumGoneCase> {};

// Every case ends with 152 answered OK: the format was not seen to finish,
// so 154 comes before the closing notice.
TEST_P(MediumGoneTest, NoticeOkFinishesAndOtherAnswersCarryOn) {
    const MediumGoneCase& test = GetParam();
    reader.setFormatDuration(10000);
    machine.volumes.before('E', test.command, test.occurrence, [&] { reader.removeMedium(); });
    for (const win::INT_PTR answer : test.answers)
        machine.process.user.answer(kMediumAbsent, answer);

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_EQ(shown(), test.expectedShown);
    const std::vector<sim::ReaderCommand> sent = machine.commandsSentTo('E');
    EXPECT_EQ(std::count(sent.begin(), sent.end(), sim::ReaderCommand::Format),
              test.formatSent ? 1 : 0);
    EXPECT_EQ(machine.eventsNamed("create").size(), test.progressShown ? 1u : 0u);
    EXPECT_EQ(machine.eventsNamed("destroy").size(), test.progressShown ? 1u : 0u);
    expectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    AroundTheFormat, MediumGoneTest,
    ::testing::Values(
        // Step 5: the sense request before the format.
        MediumGoneCase{
            .name = "BeforeTheFormatOk",
            .command = sim::ReaderCommand::RequestSense,
            .occurrence = 1,
            .answers = {win::IDOK},
            .expectedShown = {kMainDialog, kMediumAbsent, kNotFormatted, kRevisionMatches},
            .formatSent = false,
            .progressShown = false},
        MediumGoneCase{.name = "BeforeTheFormatCancelSendsItAnyway",
                       .command = sim::ReaderCommand::RequestSense,
                       .occurrence = 1,
                       .answers = {win::IDCANCEL, win::IDOK},
                       .expectedShown = {kMainDialog, kMediumAbsent, kMediumAbsent, kNotFormatted,
                                         kRevisionMatches},
                       .formatSent = true,
                       .progressShown = false},
        // Step 6: the format command itself.
        MediumGoneCase{
            .name = "AtTheFormatCommand",
            .command = sim::ReaderCommand::Format,
            .occurrence = 1,
            .answers = {win::IDOK},
            .expectedShown = {kMainDialog, kMediumAbsent, kNotFormatted, kRevisionMatches},
            .formatSent = true,
            .progressShown = false},
        // Step 9: the first poll.
        MediumGoneCase{
            .name = "AtTheFirstPoll",
            .command = sim::ReaderCommand::RequestSense,
            .occurrence = 2,
            .answers = {win::IDOK},
            .expectedShown = {kMainDialog, kMediumAbsent, kNotFormatted, kRevisionMatches},
            .formatSent = true,
            .progressShown = true},
        MediumGoneCase{.name = "AtTheFirstPollCancelKeepsPolling",
                       .command = sim::ReaderCommand::RequestSense,
                       .occurrence = 2,
                       .answers = {win::IDCANCEL, win::IDCANCEL, win::IDOK},
                       .expectedShown = {kMainDialog, kMediumAbsent, kMediumAbsent, kMediumAbsent,
                                         kNotFormatted, kRevisionMatches},
                       .formatSent = true,
                       .progressShown = true},
        // Step 10.5: a later poll.
        MediumGoneCase{
            .name = "DuringThePolls",
            .command = sim::ReaderCommand::RequestSense,
            .occurrence = 4,
            .answers = {win::IDOK},
            .expectedShown = {kMainDialog, kMediumAbsent, kNotFormatted, kRevisionMatches},
            .formatSent = true,
            .progressShown = true}),
    NameOfCase());

// --- progress ---

TEST_F(FormatProcedureTest, HalfWayProgressPutsTheBarAtHalf) {
    // Two seconds of format: the first poll, one second in, reads 0x80 0x00.
    reader.setFormatDuration(2000);

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    std::vector<long long> positions;
    for (const TimedEvent& event : machine.eventsNamed("position")) {
        positions.push_back(event.value);
    }
    EXPECT_EQ(positions, (std::vector<long long>{0, 32768}));
}

TEST_F(FormatProcedureTest, ProgressWindowFollowsThePolls) {
    reader.setFormatDuration(8000);

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    // The window opens at the moment the format starts (tick 0), each bar
    // step comes from the latest poll before its two-second wait.
    const std::vector<TimedEvent> expected = {
        {"create", kProgress, 0},
        {"center", 0, 0},
        {"range", 0xFFFF, 0},
        {"position", 0, 0},
        {"show", 5, 0},
        {"redraw", 0x105, 0},
        {"position", 8192, 1000},
        {"position", 24576, 3000},
        {"position", 40960, 5000},
        {"position", 57344, 7000},
        {"destroy", 0, 9000},
        {"modal", kRevisionMatches, 9000},
    };
    std::vector<TimedEvent> events = machine.events();
    events.erase(events.begin());  // the main dialog
    EXPECT_EQ(events, expected);
    EXPECT_EQ(machine.programClock.sleeps(),
              (std::vector<win::DWORD>{kFirstPollDelay, kPollInterval, kPollInterval, kPollInterval,
                                       kPollInterval}));
    EXPECT_EQ(reader.completedFormats(), 1);
}

TEST_F(FormatProcedureTest, FormatOverBeforeTheFirstPoll) {
    reader.setFormatDuration(500);

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_EQ(machine.eventsNamed("position").size(), 1u);  // only the start at 0
    ASSERT_EQ(machine.eventsNamed("destroy").size(), 1u);
    EXPECT_EQ(machine.eventsNamed("destroy")[0].tick, kFirstPollDelay);
    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kRevisionMatches}));
}

// A refused format command: the polls find nothing running and the
// procedure closes as usual, but the card was not formatted, and 154 says so
// first. Without 154 in the library nothing else changes.
struct RefusedFormatCase {
    const char* name;
    StartMode mode;
    std::set<int> missingTemplates;
    std::vector<int> expectedShown;
};

void PrintTo(const RefusedFormatCase& c, std::ostream* out) {
    *out << c.name;
}

class RefusedFormatTest : public FormatProcedureTest,
                          public ::testing::WithParamInterface<RefusedFormatCase> {};

TEST_P(RefusedFormatTest, TellsThatTheCardWasNotFormatted) {
    const RefusedFormatCase& test = GetParam();
    machine.useEnglishLibrary(test.missingTemplates);
    reader.refuseFormat(true);
    makeDialog(test.mode);
    machine.process.user.answer(kConfirmFormat, win::IDOK);

    EXPECT_EQ(pressOk(), win::IDOK);

    EXPECT_EQ(shown(), test.expectedShown);
    EXPECT_EQ(reader.completedFormats(), 0);
    expectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    NotSeenToFinish, RefusedFormatTest,
    ::testing::Values(RefusedFormatCase{"AfterUpdate",
                                        StartMode::AfterUpdate,
                                        {},
                                        {kMainDialog, kNotFormatted, kRevisionMatches}},
                      RefusedFormatCase{"StandAlone",
                                        StartMode::StandAlone,
                                        {},
                                        {kMainDialog, kDriveSelect, kConfirmFormat, kNotFormatted,
                                         kStandAloneDone}},
                      RefusedFormatCase{"LibraryWithoutTheNotice",
                                        StartMode::AfterUpdate,
                                        {kNotFormatted},
                                        {kMainDialog, kNotFormatted, kRevisionMatches}}),
    NameOfCase());

// The format's one-shot commands each open their own handle; a lock held
// across them would shut them out, so the volume is never locked.
TEST_F(FormatProcedureTest, FormatNeverLocksTheVolume) {
    reader.setFormatDuration(6000);

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_TRUE(machine.volumes.controls().empty());
    EXPECT_EQ(machine.volumes.opens().size(), machine.volumes.passThroughs().size());
    EXPECT_EQ(reader.completedFormats(), 1);
}

// A REQUEST SENSE that itself fails says nothing about the format: the bar
// stays, the next poll follows two seconds later, and only five lost polls in
// a row end the polling, with the format not seen to finish.
struct LostPollCase {
    const char* name;
    win::DWORD formatDuration;
    // From each tick on, the next `count` REQUEST SENSE commands fail.
    std::vector<std::pair<win::DWORD, int>> losses;
    std::vector<long long> positions;
    win::DWORD progressClosedAt;
    std::vector<int> expectedShown;
};

void PrintTo(const LostPollCase& c, std::ostream* out) {
    *out << c.name;
}

class LostPollTest : public FormatProcedureTest,
                     public ::testing::WithParamInterface<LostPollCase> {};

TEST_P(LostPollTest, KeepsPollingUntilFiveInARowAreLost) {
    const LostPollCase& test = GetParam();
    reader.setFormatDuration(test.formatDuration);
    for (const auto& [tick, count] : test.losses) {
        // A structured binding is captured through a copy: clang 14 cannot
        // capture one itself.
        const auto lostPolls = count;
        machine.clock.at(tick, [this, lostPolls] {
            machine.volumes.injectForCommand(sim::ReaderCommand::RequestSense,
                                             sim::InjectedFault::callFails(), lostPolls);
        });
    }

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    std::vector<long long> positions;
    for (const TimedEvent& event : machine.eventsNamed("position")) {
        positions.push_back(event.value);
    }
    EXPECT_EQ(positions, test.positions);
    ASSERT_EQ(machine.eventsNamed("destroy").size(), 1u);
    EXPECT_EQ(machine.eventsNamed("destroy")[0].tick, test.progressClosedAt);
    EXPECT_EQ(shown(), test.expectedShown);
    expectNothingLeftOpen();
}

// Polls at 1000, 3000, 5000, ...; an eight-second format reads 8192 per second.
INSTANTIATE_TEST_SUITE_P(
    FailedSenseRequests, LostPollTest,
    ::testing::Values(LostPollCase{"FirstPollLost",
                                   8000,
                                   {{500, 1}},
                                   {0, 24576, 40960, 57344},
                                   9000,
                                   {kMainDialog, kRevisionMatches}},
                      LostPollCase{"OneLostPollKeepsTheBar",
                                   8000,
                                   {{2000, 1}},
                                   {0, 8192, 40960, 57344},
                                   9000,
                                   {kMainDialog, kRevisionMatches}},
                      LostPollCase{"FourInARowStillFollowed",
                                   8000,
                                   {{2000, 4}},
                                   {0, 8192},
                                   11000,
                                   {kMainDialog, kRevisionMatches}},
                      LostPollCase{"FiveInARowEndThePolling",
                                   8000,
                                   {{2000, 5}},
                                   {0, 8192},
                                   11000,
                                   {kMainDialog, kNotFormatted, kRevisionMatches}},
                      LostPollCase{"EveryPollLost",
                                   8000,
                                   {{500, 5}},
                                   {0},
                                   9000,
                                   {kMainDialog, kNotFormatted, kRevisionMatches}},
                      LostPollCase{"AnAnsweredPollStartsTheCountAgain",
                                   20000,
                                   {{2000, 4}, {12000, 4}},
                                   {0, 3276, 36044},
                                   21000,
                                   {kMainDialog, kRevisionMatches}}),
    NameOfCase());

// The main dialog goes away before the format starts, with Cancel for the
// time being, and ends with OK after the closing notice.
TEST_F(FormatProcedureTest, MainDialogIsDismissedBeforeTheFormat) {
    std::vector<win::INT_PTR> endedBeforeFormat;
    machine.volumes.before('E', sim::ReaderCommand::Format, 1, [&] {
        for (const testsupport::UiCall& call : machine.ui.callsNamed("EndDialog")) {
            endedBeforeFormat.push_back(call.id);
        }
    });

    EXPECT_EQ(runAfterUpdate(), win::IDOK);

    EXPECT_EQ(endedBeforeFormat, (std::vector<win::INT_PTR>{win::IDCANCEL}));
    const std::vector<testsupport::UiCall> ends = machine.ui.callsNamed("EndDialog");
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back().id, win::IDOK);
    EXPECT_EQ(ends.front().window, ends.back().window);
}

// --- the closing notice ---

struct ClosingCase {
    const char* name;
    StartMode mode;
    const char* usbRevision;
    const char* markerRevision;
    int expectedNotice;
};

class ClosingNoticeTest : public FormatProcedureTest,
                          public ::testing::WithParamInterface<ClosingCase> {};

TEST_P(ClosingNoticeTest, ComparesTheRevisionsAfterAnUpdate) {
    const ClosingCase& test = GetParam();
    makeDialog(test.mode);
    dialog->deviceLink.usbRevision = test.usbRevision;
    dialog->markerRevision = test.markerRevision;
    machine.process.user.answer(kConfirmFormat, win::IDOK);
    // The closing notice's answer does not matter: the dialog ends with OK.
    machine.process.user.answerAlways(test.expectedNotice, win::IDCANCEL);

    EXPECT_EQ(pressOk(), win::IDOK);

    EXPECT_EQ(shown().back(), test.expectedNotice);
}

INSTANTIATE_TEST_SUITE_P(
    Revisions, ClosingNoticeTest,
    ::testing::Values(
        ClosingCase{"Equal", StartMode::AfterUpdate, "0200", "0200", kRevisionMatches},
        ClosingCase{"Different", StartMode::AfterUpdate, "0100", "0200", kRevisionDiffers},
        ClosingCase{"UsbRevisionUnknown", StartMode::AfterUpdate, "", "0200", kRevisionDiffers},
        ClosingCase{"LetterCaseDiffers", StartMode::AfterUpdate, "020a", "020A", kRevisionDiffers},
        ClosingCase{"StandAloneNeverCompares", StartMode::StandAlone, "0100", "0200",
                    kStandAloneDone}),
    NameOfCase());

// --- a quit during the polls ---

TEST_F(FormatProcedureTest, QuitDuringThePollsWaitsForTheFormatAndEndsWithoutOk) {
    reader.setFormatDuration(8000);
    // Asked for while the second poll's wait runs.
    machine.clock.at(2000, [&] { machine.process.simUi.PostQuitMessage(0); });

    const win::INT_PTR result = runAfterUpdate();

    EXPECT_NE(result, win::IDOK);
    EXPECT_EQ(reader.completedFormats(), 1);
    EXPECT_EQ(machine.eventsNamed("position").size(), 5u);
    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kRevisionMatches}));
    // Met and posted again in each of the three passes after it came.
    EXPECT_EQ(machine.ui.callsNamed("PostQuitMessage").size(), 3u);
    EXPECT_TRUE(machine.process.simUi.quitPending());
    expectNothingLeftOpen();
}

// --- the suspend rule ---

TEST_F(FormatProcedureTest, SuspendIsRefusedWhileTheFormatDialogsAreOpen) {
    reader.removeMedium();
    std::vector<win::LRESULT> answers;
    const auto askToSuspend = [&](win::HWND window) {
        win::LRESULT result = 0;
        machine.deliver(window, win::WM_POWERBROADCAST, win::PBT_APMQUERYSUSPEND, 0, result);
        answers.push_back(result);
    };
    machine.process.user.whileOpen(kMainDialog, askToSuspend);
    machine.process.user.whileOpen(kNotReady, askToSuspend);
    machine.process.user.answer(kNotReady, win::IDCANCEL);

    runAfterUpdate();

    EXPECT_EQ(answers,
              (std::vector<win::LRESULT>{win::BROADCAST_QUERY_DENY, win::BROADCAST_QUERY_DENY}));
}

}  // namespace
}  // namespace formattest
