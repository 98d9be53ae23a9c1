#include "format/format_app.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "format_machine.h"

namespace formattest {
namespace {

using testsupport::PrintTo;

constexpr win::DWORD kAfterUpdateWait = 5000;
constexpr const char* kMarkerRevision = "0200";

// The format program started as Windows starts it, on a machine with the
// English library and a reader on E:.
class FormatAppTest : public ::testing::Test {
  protected:
    void SetUp() override { machine.installEnglishLibrary(); }

    void writeCompleteMarker() { machine.writeMarker("Kavo", "TKW-5 CardRW", kMarkerRevision); }

    // Answers for a stand-alone run that formats the preselected drive.
    void answerStandAloneFormat() {
        machine.process.user.answer(kDriveSelect, win::IDOK);
        machine.process.user.answer(kConfirmFormat, win::IDOK);
    }

    bool start() {
        format::FormatApp app(machine.services());
        const bool result = app.InitInstance();
        library = app.languageLibrary;
        exitCode = app.ExitInstance();
        return result;
    }

    // How many commands had reached the readers when the main dialog opened.
    void countCommandsAtMainDialog() {
        machine.process.user.whileOpen(kMainDialog, [&](win::HWND) {
            if (!commandsBeforeMainDialog) {
                commandsBeforeMainDialog = machine.volumes.passThroughs().size();
            }
        });
    }

    std::vector<int> shown() const { return machine.shownTemplates(); }
    win::DWORD mainDialogTick() const {
        for (const TimedEvent& event : machine.eventsNamed("modal")) {
            if (event.value == kMainDialog) return event.tick;
        }
        ADD_FAILURE() << "the main dialog never opened";
        return 0;
    }

    FormatMachine machine;
    sim::VirtualReader& reader = machine.addReader('E');
    std::optional<std::size_t> commandsBeforeMainDialog;
    int exitCode = -1;
    win::HMODULE library = nullptr;
};

// --- mode selection from the marker ---

struct MarkerCase {
    const char* name;
    bool keyExists;
    std::optional<std::string> vendor;
    std::optional<std::string> product;
    std::optional<std::string> revision;
    bool searches;
    bool afterUpdate;
};

class MarkerModeTest : public FormatAppTest, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(MarkerModeTest, CompleteMarkerMeansAfterUpdate) {
    const MarkerCase& test = GetParam();
    if (test.keyExists) machine.writeMarker(test.vendor, test.product, test.revision);
    machine.process.user.answer(kMainDialog, win::IDOK);
    answerStandAloneFormat();
    countCommandsAtMainDialog();

    EXPECT_FALSE(start());

    ASSERT_TRUE(commandsBeforeMainDialog.has_value());
    EXPECT_EQ(*commandsBeforeMainDialog, test.searches ? 1u : 0u);
    EXPECT_EQ(reader.completedFormats(), 1);
    if (test.afterUpdate) {
        EXPECT_EQ(shown(), (std::vector<int>{kMainDialog, kRevisionMatches}));
        EXPECT_EQ(mainDialogTick(), kAfterUpdateWait);
        EXPECT_FALSE(machine.markerExists());
    } else {
        EXPECT_EQ(shown(),
                  (std::vector<int>{kMainDialog, kDriveSelect, kConfirmFormat, kStandAloneDone}));
        EXPECT_EQ(mainDialogTick(), 0u);
        // A stand-alone format never uses the marker up.
        EXPECT_EQ(machine.markerExists(), test.keyExists);
    }
    EXPECT_EQ(machine.registry.openKeyCount(), 0u);
    EXPECT_EQ(machine.volumes.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Marker, MarkerModeTest,
                         ::testing::Values(MarkerCase{.name = "NoKey",
                                                      .keyExists = false,
                                                      .vendor = {},
                                                      .product = {},
                                                      .revision = {},
                                                      .searches = false,
                                                      .afterUpdate = false},
                                           MarkerCase{.name = "Complete",
                                                      .keyExists = true,
                                                      .vendor = "Kavo",
                                                      .product = "TKW-5 CardRW",
                                                      .revision = "0200",
                                                      .searches = true,
                                                      .afterUpdate = true},
                                           // The search and the registry walk still run; the mode
                                           // does not follow.
                                           MarkerCase{.name = "WithoutRevision",
                                                      .keyExists = true,
                                                      .vendor = "Kavo",
                                                      .product = "TKW-5 CardRW",
                                                      .revision = std::nullopt,
                                                      .searches = true,
                                                      .afterUpdate = false},
                                           MarkerCase{.name = "WithoutVendor",
                                                      .keyExists = true,
                                                      .vendor = std::nullopt,
                                                      .product = "TKW-5 CardRW",
                                                      .revision = "0200",
                                                      .searches = false,
                                                      .afterUpdate = false},
                                           MarkerCase{.name = "WithoutProduct",
                                                      .keyExists = true,
                                                      .vendor = "Kavo",
                                                      .product = std::nullopt,
                                                      .revision = "0200",
                                                      .searches = false,
                                                      .afterUpdate = false},
                                           MarkerCase{.name = "EmptyKey",
                                                      .keyExists = true,
                                                      .vendor = std::nullopt,
                                                      .product = std::nullopt,
                                                      .revision = std::nullopt,
                                                      .searches = false,
                                                      .afterUpdate = false}),
                         NameOfCase());

// --- which drive the marker finds ---

struct MatchCase {
    const char* name;
    const char* vendor;
    const char* product;
    bool found;
    int expectedLast;
};

class ReaderMatchTest : public FormatAppTest, public ::testing::WithParamInterface<MatchCase> {};

// A reader that does not match leaves the drive empty: the procedure can
// only wait in its not-ready notice, whose Cancel removes the marker.
TEST_P(ReaderMatchTest, ProductIsASubstringAndVendorIsExact) {
    const MatchCase& test = GetParam();
    machine.writeMarker(test.vendor, test.product, kMarkerRevision);
    machine.process.user.answer(kMainDialog, win::IDOK);
    machine.process.user.answer(kNotReady, win::IDCANCEL);

    start();

    const std::vector<sim::ReaderCommand> sent = machine.commandsSentTo('E');
    EXPECT_EQ(std::count(sent.begin(), sent.end(), sim::ReaderCommand::Format), test.found ? 1 : 0);
    EXPECT_EQ(shown().back(), test.expectedLast);
    EXPECT_FALSE(machine.markerExists());
}

INSTANTIATE_TEST_SUITE_P(Identity, ReaderMatchTest,
                         ::testing::Values(MatchCase{.name = "Whole",
                                                     .vendor = "Kavo",
                                                     .product = "TKW-5 CardRW",
                                                     .found = true,
                                                     .expectedLast = kRevisionMatches},
                                           // The drive is found, but the registry walk looks the
                                           // reader up by the marker's product, finds no disk of
                                           // that name and leaves the USB revision unknown.
                                           MatchCase{.name = "ShorterProduct",
                                                     .vendor = "Kavo",
                                                     .product = "TKW-5",
                                                     .found = true,
                                                     .expectedLast = kRevisionDiffers},
                                           MatchCase{.name = "ProductTail",
                                                     .vendor = "Kavo",
                                                     .product = "CardRW",
                                                     .found = true,
                                                     .expectedLast = kRevisionDiffers},
                                           MatchCase{.name = "LongerProduct",
                                                     .vendor = "Kavo",
                                                     .product = "TKW-5 CardRW2",
                                                     .found = false,
                                                     .expectedLast = kNotReady},
                                           MatchCase{.name = "ProductInOtherCase",
                                                     .vendor = "Kavo",
                                                     .product = "tkw-5",
                                                     .found = false,
                                                     .expectedLast = kNotReady},
                                           MatchCase{.name = "VendorInOtherCase",
                                                     .vendor = "kavo",
                                                     .product = "TKW-5 CardRW",
                                                     .found = false,
                                                     .expectedLast = kNotReady},
                                           MatchCase{.name = "VendorWithTrailingBlank",
                                                     .vendor = "Kavo ",
                                                     .product = "TKW-5 CardRW",
                                                     .found = false,
                                                     .expectedLast = kNotReady}),
                         NameOfCase());

TEST_F(FormatAppTest, TwoMatchingReadersUseTheLastDrive) {
    machine.addReader('G');
    writeCompleteMarker();
    machine.process.user.answer(kMainDialog, win::IDOK);

    start();

    const std::vector<sim::ReaderCommand> onE = machine.commandsSentTo('E');
    const std::vector<sim::ReaderCommand> onG = machine.commandsSentTo('G');
    EXPECT_EQ(onE, (std::vector<sim::ReaderCommand>{sim::ReaderCommand::Inquiry}));
    EXPECT_EQ(std::count(onG.begin(), onG.end(), sim::ReaderCommand::Format), 1);
}

TEST_F(FormatAppTest, CancelInTheMainDialogKeepsTheMarker) {
    writeCompleteMarker();
    machine.process.user.answer(kMainDialog, win::IDCANCEL);

    EXPECT_FALSE(start());

    EXPECT_EQ(shown(), (std::vector<int>{kMainDialog}));
    EXPECT_TRUE(machine.markerExists());
    EXPECT_EQ(reader.completedFormats(), 0);
}

// A quit asked for while the format runs does not stop it, but the main
// dialog then ends without OK and the marker stays for the next start.
TEST_F(FormatAppTest, QuitDuringTheFormatKeepsTheMarker) {
    writeCompleteMarker();
    reader.setFormatDuration(8000);
    machine.process.user.answer(kMainDialog, win::IDOK);
    machine.clock.at(kAfterUpdateWait + 2000, [&] { machine.process.simUi.PostQuitMessage(0); });

    start();

    EXPECT_EQ(reader.completedFormats(), 1);
    EXPECT_TRUE(machine.markerExists());
}

// --- the checks before the main dialog ---

struct CheckCase {
    const char* name;
    win::DWORD majorVersion;
    std::vector<sim::TokenGroup> groups;
    std::vector<std::pair<int, win::INT_PTR>> answers;
    std::vector<int> expectedShown;
    bool markerDeleted;
};

const sim::TokenGroup kUsers{win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED};
const sim::TokenGroup kAdministrators{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED};
const sim::TokenGroup kDenyOnlyAdministrators{win::DOMAIN_ALIAS_RID_ADMINS,
                                              win::SE_GROUP_USE_FOR_DENY_ONLY};

class SystemCheckTest : public FormatAppTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(SystemCheckTest, OkOnANoticeDeletesTheMarkerAndEnds) {
    const CheckCase& test = GetParam();
    writeCompleteMarker();
    machine.setup.majorVersion = test.majorVersion;
    machine.setup.tokenGroups = test.groups;
    for (const auto& [templateId, answer] : test.answers) {
        machine.process.user.answer(templateId, answer);
    }
    machine.process.user.answer(kMainDialog, win::IDCANCEL);

    EXPECT_FALSE(start());

    EXPECT_EQ(shown(), test.expectedShown);
    EXPECT_EQ(machine.markerExists(), !test.markerDeleted);
    EXPECT_EQ(machine.registry.openKeyCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    VersionAndRights, SystemCheckTest,
    ::testing::Values(CheckCase{.name = "Version5Administrator",
                                .majorVersion = 5,
                                .groups = {kUsers, kAdministrators},
                                .answers = {},
                                .expectedShown = {kMainDialog},
                                .markerDeleted = false},
                      CheckCase{.name = "Version4Ok",
                                .majorVersion = 4,
                                .groups = {kAdministrators},
                                .answers = {{kVersionNotice, win::IDOK}},
                                .expectedShown = {kVersionNotice},
                                .markerDeleted = true},
                      CheckCase{.name = "Version4Cancel",
                                .majorVersion = 4,
                                .groups = {kAdministrators},
                                .answers = {{kVersionNotice, win::IDCANCEL}},
                                .expectedShown = {kVersionNotice, kMainDialog},
                                .markerDeleted = false},
                      CheckCase{.name = "Version6Ok",
                                .majorVersion = 6,
                                .groups = {kAdministrators},
                                .answers = {{kVersionNotice, win::IDOK}},
                                .expectedShown = {kVersionNotice},
                                .markerDeleted = true},
                      CheckCase{.name = "NotAdministratorOk",
                                .majorVersion = 5,
                                .groups = {kUsers},
                                .answers = {{kAdministratorNotice, win::IDOK}},
                                .expectedShown = {kAdministratorNotice},
                                .markerDeleted = true},
                      CheckCase{.name = "NotAdministratorCancel",
                                .majorVersion = 5,
                                .groups = {kUsers},
                                .answers = {{kAdministratorNotice, win::IDCANCEL}},
                                .expectedShown = {kAdministratorNotice, kMainDialog},
                                .markerDeleted = false},
                      CheckCase{.name = "DenyOnlyAdministratorOk",
                                .majorVersion = 5,
                                .groups = {kUsers, kDenyOnlyAdministrators},
                                .answers = {{kAdministratorNotice, win::IDOK}},
                                .expectedShown = {kAdministratorNotice},
                                .markerDeleted = true},
                      CheckCase{.name = "BothNotices",
                                .majorVersion = 4,
                                .groups = {kUsers},
                                .answers = {{kVersionNotice, win::IDCANCEL},
                                            {kAdministratorNotice, win::IDOK}},
                                .expectedShown = {kVersionNotice, kAdministratorNotice},
                                .markerDeleted = true}),
    NameOfCase());

TEST_F(FormatAppTest, SecondInstanceEndsSilently) {
    writeCompleteMarker();
    machine.process.mutexes.open("Ardlow");  // the first instance holds it

    EXPECT_FALSE(start());

    EXPECT_TRUE(shown().empty());
    EXPECT_TRUE(machine.markerExists());
    EXPECT_TRUE(machine.volumes.passThroughs().empty());
    EXPECT_EQ(machine.system.argumentsOf("CreateMutexA"), (std::vector<std::string>{"Ardlow"}));
    // The library was loaded before the test and is freed on the way out.
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library, machine.englishLibrary());
    EXPECT_EQ(machine.system.argumentsOf("FreeLibrary"),
              std::vector<std::string>{std::to_string(reinterpret_cast<std::uintptr_t>(library))});
}

TEST_F(FormatAppTest, LoadsTheFormatLibraryAndFreesItOnExit) {
    machine.process.user.answer(kMainDialog, win::IDCANCEL);

    start();

    EXPECT_EQ(machine.system.argumentsOf("LoadLibraryA"),
              (std::vector<std::string>{"FORMAT_ENG.dll"}));
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library, machine.englishLibrary());
    const std::vector<testsupport::UiCall> chosen = machine.ui.callsNamed("setResourceModule");
    ASSERT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.back().lParam, reinterpret_cast<win::LPARAM>(library));
    EXPECT_EQ(machine.system.argumentsOf("FreeLibrary"),
              std::vector<std::string>{std::to_string(reinterpret_cast<std::uintptr_t>(library))});
    EXPECT_EQ(machine.process.librariesHeld(), 0u);
    EXPECT_EQ(exitCode, 0);
}

struct NoLibraryCase {
    const char* name;
    const char* locale;
    bool libraryFileThere;
};

class NoLibraryTest : public FormatAppTest, public ::testing::WithParamInterface<NoLibraryCase> {};

// Without a library none of the program's dialogs can be shown: the notices
// are passed, the main dialog returns at once and nothing is formatted.
TEST_P(NoLibraryTest, RunsThroughWithoutFormattingOrDeletingTheMarker) {
    writeCompleteMarker();
    machine.setup.localeAbbreviation = GetParam().locale;
    if (!GetParam().libraryFileThere) machine.process.withdrawLibraries();
    machine.setup.majorVersion = 4;
    machine.setup.tokenGroups = {kUsers};

    EXPECT_FALSE(start());

    EXPECT_EQ(shown(), (std::vector<int>{kVersionNotice, kAdministratorNotice, kMainDialog}));
    EXPECT_TRUE(machine.markerExists());
    EXPECT_EQ(reader.completedFormats(), 0);
    EXPECT_EQ(machine.system.count("FreeLibrary"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Library, NoLibraryTest,
    ::testing::Values(
        NoLibraryCase{.name = "UnknownLocale", .locale = "XYZ", .libraryFileThere = true},
        NoLibraryCase{.name = "LibraryFileMissing", .locale = "ENU", .libraryFileThere = false}),
    NameOfCase());

// --- the marker's values as bytes ---

std::vector<win::BYTE> bytesOf(const std::string& text, bool terminated) {
    std::vector<win::BYTE> bytes(text.begin(), text.end());
    if (terminated) bytes.push_back(0);
    return bytes;
}

struct ValueCase {
    const char* name;
    win::DWORD type;
    std::vector<win::BYTE> revision;
    int expectedAfterMainDialog;
};

class MarkerValueTest : public FormatAppTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(MarkerValueTest, ValuesAreTextThatFitsFiftyBytes) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", std::nullopt);
    machine.setMarkerValue("rev", GetParam().type, GetParam().revision);
    machine.process.user.answer(kMainDialog, win::IDOK);
    answerStandAloneFormat();

    start();

    ASSERT_GE(shown().size(), 2u);
    EXPECT_EQ(shown()[1], GetParam().expectedAfterMainDialog);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MarkerValueTest,
    ::testing::Values(
        // The reader now reports revision 0200: a value read as "0200"
        // matches it, whatever its registry type.
        ValueCase{"String", win::REG_SZ, bytesOf("0200", true), kRevisionMatches},
        ValueCase{"BinaryText", win::REG_BINARY, bytesOf("0200", true), kRevisionMatches},
        ValueCase{"BinaryWithoutTerminator", win::REG_BINARY, bytesOf("0200", false),
                  kRevisionMatches},
        ValueCase{"OtherRevision", win::REG_SZ, bytesOf("0300", true), kRevisionDiffers},
        ValueCase{"FortyNineCharacters", win::REG_SZ, bytesOf(std::string(49, '7'), true),
                  kRevisionDiffers},
        // Too long for the buffer: the marker is incomplete.
        ValueCase{"FiftyCharacters", win::REG_SZ, bytesOf(std::string(50, '7'), true),
                  kDriveSelect},
        // Fifty bytes fit the buffer but leave no room to end the text.
        ValueCase{"FiftyBytesWithoutTerminator", win::REG_BINARY,
                  bytesOf(std::string(50, '7'), false), kDriveSelect}),
    NameOfCase());

TEST_F(FormatAppTest, VendorTooLongForItsBufferMakesTheMarkerIncomplete) {
    machine.writeMarker(std::string(50, 'K'), "TKW-5 CardRW", kMarkerRevision);
    machine.process.user.answer(kMainDialog, win::IDCANCEL);
    countCommandsAtMainDialog();

    start();

    EXPECT_EQ(commandsBeforeMainDialog, 0u);
    EXPECT_EQ(mainDialogTick(), 0u);
}

}  // namespace
}  // namespace formattest
