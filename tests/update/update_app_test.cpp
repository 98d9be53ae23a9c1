#include "update/update_app.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

#include "update_machine.h"

namespace {

using update::UpdateTemplate;
using updatetest::templateOf;
using updatetest::UpdateMachine;

constexpr int kVersionNotice = templateOf(UpdateTemplate::VersionNotSupported);
constexpr int kAdministratorNotice = templateOf(UpdateTemplate::NotAdministrator);
constexpr int kStartNotice = templateOf(UpdateTemplate::StartNotice);
constexpr int kMainDialog = templateOf(UpdateTemplate::MainDialog);

enum class Account { Administrator, DenyOnlyAdministrator, User };

struct StartCase {
    const char* description;
    win::DWORD majorVersion = 5;
    win::DWORD platformId = win::VER_PLATFORM_WIN32_NT;
    Account account = Account::Administrator;
    std::optional<win::INT_PTR> versionAnswer = std::nullopt;
    std::optional<win::INT_PTR> administratorAnswer = std::nullopt;
    std::optional<win::INT_PTR> startAnswer = std::nullopt;
    std::vector<int> expectedShown;
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.description;
}

// The main dialog is answered with Cancel wherever it is reached, so the
// sequence ends with the main dialog exactly when the program got that far.
const StartCase kStartCases[] = {
    {.description = "XP administrator",
     .startAnswer = win::IDOK,
     .expectedShown = {kStartNotice, kMainDialog}},
    {.description = "version 4, OK ends",
     .majorVersion = 4,
     .versionAnswer = win::IDOK,
     .expectedShown = {kVersionNotice}},
    {.description = "version 4, Cancel goes on",
     .majorVersion = 4,
     .versionAnswer = win::IDCANCEL,
     .startAnswer = win::IDOK,
     .expectedShown = {kVersionNotice, kStartNotice, kMainDialog}},
    {.description = "version 6, Cancel goes on",
     .majorVersion = 6,
     .versionAnswer = win::IDCANCEL,
     .startAnswer = win::IDOK,
     .expectedShown = {kVersionNotice, kStartNotice, kMainDialog}},
    {.description = "not an administrator, OK ends",
     .account = Account::User,
     .administratorAnswer = win::IDOK,
     .expectedShown = {kAdministratorNotice}},
    {.description = "deny-only administrators, OK ends",
     .account = Account::DenyOnlyAdministrator,
     .administratorAnswer = win::IDOK,
     .expectedShown = {kAdministratorNotice}},
    {.description = "not an administrator, Cancel goes on",
     .account = Account::User,
     .administratorAnswer = win::IDCANCEL,
     .startAnswer = win::IDOK,
     .expectedShown = {kAdministratorNotice, kStartNotice, kMainDialog}},
    {.description = "Cancel on the start notice ends",
     .startAnswer = win::IDCANCEL,
     .expectedShown = {kStartNotice}},
    {.description = "not the NT family: both notices",
     .majorVersion = 4,
     .platformId = win::VER_PLATFORM_WIN32_WINDOWS,
     .versionAnswer = win::IDCANCEL,
     .administratorAnswer = win::IDCANCEL,
     .startAnswer = win::IDOK,
     .expectedShown = {kVersionNotice, kAdministratorNotice, kStartNotice, kMainDialog}},
};

std::vector<sim::TokenGroup> groupsOf(Account account) {
    switch (account) {
        case Account::User:
            return {{win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED}};
        case Account::DenyOnlyAdministrator:
            return {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_USE_FOR_DENY_ONLY}};
        case Account::Administrator:
            break;
    }
    return {{win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED},
            {win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED}};
}

class StartUpTest : public testing::TestWithParam<StartCase> {};

TEST_P(StartUpTest, ChecksLeadToTheMainDialogOrEndTheProgram) {
    const StartCase& c = GetParam();
    UpdateMachine machine;
    machine.setup.majorVersion = c.majorVersion;
    machine.setup.platformId = c.platformId;
    machine.setup.tokenGroups = groupsOf(c.account);
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
    EXPECT_EQ(machine.system.count("FreeLibrary"), 1) << c.description;
    EXPECT_EQ(machine.process.simSystem.librariesFreed(), 1u) << c.description;
    machine.expectEverythingReleased();
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpTest, testing::ValuesIn(kStartCases));

TEST(StartUp, SecondInstanceEndsSilentlyAfterLoadingTheLibrary) {
    UpdateMachine machine;
    machine.process.mutexes.open("Velcrest");  // the first instance holds it
    update::UpdateApp app(machine.services);
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(machine.shownTemplates().empty());
    EXPECT_EQ(machine.system.argumentsOf("LoadLibraryA"),
              std::vector<std::string>{updatetest::kLibraryFile});
    ASSERT_NE(machine.library(), nullptr);
    EXPECT_EQ(app.languageLibrary, machine.library());
    app.ExitInstance();
    EXPECT_EQ(machine.system.count("FreeLibrary"), 1);
    EXPECT_EQ(machine.process.librariesHeld(), 0u);
}

TEST(StartUp, TakesTheNamedMutexAndKeepsItForTheProcess) {
    UpdateMachine machine;
    machine.answer(UpdateTemplate::MainDialog, win::IDCANCEL);
    update::UpdateApp app(machine.services);
    app.InitInstance();
    app.ExitInstance();
    EXPECT_EQ(machine.system.argumentsOf("CreateMutexA"), std::vector<std::string>{"Velcrest"});
    EXPECT_EQ(machine.process.simSystem.openHandleCount(), 1u) << "the mutex is never closed";
    EXPECT_EQ(machine.process.simSystem.openHandleCount(sim::SimSystem::HandleKind::Mutex), 1u);
}

// With no library for the locale every template but the About box is
// missing: each run gives -1, the program passes the checks, fails to show
// its main dialog and ends without any window.
TEST(StartUp, UnknownLocaleRunsWithoutAnyWindow) {
    UpdateMachine machine;
    machine.setup.localeAbbreviation = "NLD";
    update::UpdateApp app(machine.services);
    EXPECT_EQ(app.InitInstance(), 0);
    const std::vector<testsupport::ModalRun> expected = {{kStartNotice, -1}, {kMainDialog, -1}};
    EXPECT_EQ(machine.ui.modalRuns(), expected);
    EXPECT_EQ(machine.process.screen.missing, (std::vector<int>{kStartNotice, kMainDialog}));
    EXPECT_EQ(app.languageLibrary, nullptr);
    app.ExitInstance();
    EXPECT_EQ(machine.system.count("FreeLibrary"), 0);
    EXPECT_TRUE(machine.process.simUi.openWindows().empty());
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
        EXPECT_EQ(machine.system.count("FreeLibrary"), 1) << "answer " << answer;
        EXPECT_EQ(machine.process.librariesHeld(), 0u) << "answer " << answer;
    }
}

}  // namespace
