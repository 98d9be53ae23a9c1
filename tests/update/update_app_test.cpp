#include "update/update_app.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

#include "update_machine.h"

namespace {

using update::UpdateTemplate;
using updatetest::UpdateMachine;

constexpr int k133 = 133;
constexpr int k134 = 134;
constexpr int k150 = 150;
constexpr int k102 = 102;

struct StartCase {
    const char* description;
    win::DWORD majorVersion;
    win::DWORD platformId;
    bool administrator;
    bool denyOnly;
    std::optional<win::INT_PTR> versionAnswer;
    std::optional<win::INT_PTR> administratorAnswer;
    std::optional<win::INT_PTR> startAnswer;
    std::vector<int> expectedShown;
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.description;
}

// The main dialog is answered with Cancel wherever it is reached, so the
// sequence ends with 102 exactly when the program got that far.
const StartCase kStartCases[] = {
    {"XP administrator",
     5,
     win::VER_PLATFORM_WIN32_NT,
     true,
     false,
     {},
     {},
     win::IDOK,
     {k150, k102}},
    {"version 4, OK ends", 4, win::VER_PLATFORM_WIN32_NT, true, false, win::IDOK, {}, {}, {k133}},
    {"version 4, Cancel goes on",
     4,
     win::VER_PLATFORM_WIN32_NT,
     true,
     false,
     win::IDCANCEL,
     {},
     win::IDOK,
     {k133, k150, k102}},
    {"version 6, Cancel goes on",
     6,
     win::VER_PLATFORM_WIN32_NT,
     true,
     false,
     win::IDCANCEL,
     {},
     win::IDOK,
     {k133, k150, k102}},
    {"not an administrator, OK ends",
     5,
     win::VER_PLATFORM_WIN32_NT,
     false,
     false,
     {},
     win::IDOK,
     {},
     {k134}},
    {"deny-only administrators, OK ends",
     5,
     win::VER_PLATFORM_WIN32_NT,
     true,
     true,
     {},
     win::IDOK,
     {},
     {k134}},
    {"not an administrator, Cancel goes on",
     5,
     win::VER_PLATFORM_WIN32_NT,
     false,
     false,
     {},
     win::IDCANCEL,
     win::IDOK,
     {k134, k150, k102}},
    {"Cancel on the start notice ends",
     5,
     win::VER_PLATFORM_WIN32_NT,
     true,
     false,
     {},
     {},
     win::IDCANCEL,
     {k150}},
    {"not the NT family: both notices",
     4,
     win::VER_PLATFORM_WIN32_WINDOWS,
     true,
     false,
     win::IDCANCEL,
     win::IDCANCEL,
     win::IDOK,
     {k133, k134, k150, k102}},
};

class StartUpTest : public testing::TestWithParam<StartCase> {};

TEST_P(StartUpTest, ChecksLeadToTheMainDialogOrEndTheProgram) {
    const StartCase& c = GetParam();
    UpdateMachine machine;
    machine.system.version.dwMajorVersion = c.majorVersion;
    machine.system.version.dwPlatformId = c.platformId;
    if (!c.administrator) {
        machine.system.groups = {{win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED}};
    } else if (c.denyOnly) {
        machine.system.groups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_USE_FOR_DENY_ONLY}};
    }
    if (c.versionAnswer) machine.answer(UpdateTemplate::VersionNotSupported, *c.versionAnswer);
    if (c.administratorAnswer) {
        machine.answer(UpdateTemplate::NotAdministrator, *c.administratorAnswer);
    }
    if (c.startAnswer) machine.answer(UpdateTemplate::StartNotice, *c.startAnswer);
    machine.answer(UpdateTemplate::MainDialog, win::IDCANCEL);

    update::UpdateApp app(machine.services);
    EXPECT_EQ(app.InitInstance(), 0) << c.description;
    EXPECT_EQ(machine.shownTemplates(), c.expectedShown) << c.description;
    EXPECT_EQ(app.mainWindow(), nullptr) << c.description;
    app.ExitInstance();
    EXPECT_EQ(machine.system.freeCounts[machine.library], 1) << c.description;
    machine.expectEverythingReleased();
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpTest, testing::ValuesIn(kStartCases));

TEST(StartUp, SecondInstanceEndsSilentlyAfterLoadingTheLibrary) {
    UpdateMachine machine;
    machine.system.existingMutexes.insert("Velcrest");
    update::UpdateApp app(machine.services);
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(machine.shownTemplates().empty());
    EXPECT_EQ(machine.system.loadRequests, std::vector<std::string>{"KELDRA_ENG.dll"});
    EXPECT_EQ(app.languageLibrary, machine.library);
    app.ExitInstance();
    EXPECT_EQ(machine.system.freeCounts[machine.library], 1);
}

TEST(StartUp, TakesTheNamedMutexAndKeepsItForTheProcess) {
    UpdateMachine machine;
    machine.answer(UpdateTemplate::MainDialog, win::IDCANCEL);
    update::UpdateApp app(machine.services);
    app.InitInstance();
    app.ExitInstance();
    EXPECT_EQ(machine.system.createdMutexes, std::vector<std::string>{"Velcrest"});
    EXPECT_EQ(machine.system.openHandleCount(), 1) << "the mutex is never closed";
}

// With no library for the locale every template but the About box is
// missing: each run gives -1, the program passes the checks, fails to show
// its main dialog and ends without any window.
TEST(StartUp, UnknownLocaleRunsWithoutAnyWindow) {
    UpdateMachine machine;
    machine.system.localeName = "NLD";
    update::UpdateApp app(machine.services);
    EXPECT_EQ(app.InitInstance(), 0);
    const std::vector<testsupport::ModalRun> expected = {{k150, -1}, {k102, -1}};
    EXPECT_EQ(machine.ui.modalRuns(), expected);
    EXPECT_EQ(app.languageLibrary, nullptr);
    app.ExitInstance();
    EXPECT_TRUE(machine.system.freeCounts.empty());
    EXPECT_EQ(machine.ui.openWindowCount(), 0u);
}

TEST(StartUp, LibraryIsFreedExactlyOnceWhateverTheMainDialogReturned) {
    for (const win::INT_PTR answer : {win::IDOK, win::IDCANCEL}) {
        UpdateMachine machine;
        // OK runs the update command; Cancel on its first notice quits.
        machine.answer(UpdateTemplate::MainDialog, answer);
        machine.answerAlways(UpdateTemplate::UpdateStart, win::IDCANCEL);
        update::UpdateApp app(machine.services);
        EXPECT_EQ(app.InitInstance(), 0);
        app.ExitInstance();
        app.ExitInstance();
        EXPECT_EQ(machine.system.freeCounts[machine.library], 1) << "answer " << answer;
    }
}

}  // namespace
