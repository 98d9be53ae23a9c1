#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "update/update_dialog.h"
#include "update_machine.h"

namespace {

using std::string_literals::operator""s;
using update::UpdateTemplate;
using updatetest::UpdateMachine;

constexpr int kUpdateComplete = updatetest::templateOf(UpdateTemplate::UpdateComplete);
constexpr int kPowerOffPrompt = updatetest::templateOf(UpdateTemplate::PowerOffPrompt);

struct CommandCase {
    const char* description;
    std::string directory;
    std::string expected;
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.description;
}

const std::string kLongDirectory = "D:\\" + std::string(300, 'x');
const std::string kLongDirectoryWithBlank = "D:\\a b\\" + std::string(400, 'y');

const CommandCase kCommandCases[] = {
    {"plain directory", "C:\\Velcrest", "C:\\Velcrest\\Ardlow.exe"},
    {"drive root keeps its double backslash", "C:\\", "C:\\\\Ardlow.exe"},
    {"blank in the path is quoted", "C:\\Program Files\\Kavo",
     "\"C:\\Program Files\\Kavo\\Ardlow.exe\""},
    {"longer than 260 characters is never cut", kLongDirectory, kLongDirectory + "\\Ardlow.exe"},
    {"long with a blank", kLongDirectoryWithBlank,
     "\"" + kLongDirectoryWithBlank + "\\Ardlow.exe\""},
};

class RunOnceCommandTest : public testing::TestWithParam<CommandCase> {};

TEST_P(RunOnceCommandTest, IsWrittenWholeWithItsTerminator) {
    const CommandCase& c = GetParam();
    EXPECT_EQ(update::UpdateDialog::runOnceCommand(c.directory), c.expected) << c.description;

    UpdateMachine machine;
    machine.setup.currentDirectory = c.directory;
    auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
    machine.useLibrary();
    dialog->completeHandOff();
    const std::optional<sim::RegistryValue> value =
        machine.registry.value(update::kRunOnceKey, update::kRunOnceValue);
    ASSERT_TRUE(value.has_value()) << c.description;
    EXPECT_EQ(value->type, win::REG_SZ);
    EXPECT_EQ(std::string(value->data.begin(), value->data.end()), c.expected + '\0')
        << c.description;
    // The size is asked for first: no fixed buffer stands in the way.
    const std::vector<std::string> asked = machine.system.argumentsOf("GetCurrentDirectoryA");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), "0");
}

INSTANTIATE_TEST_SUITE_P(Directories, RunOnceCommandTest, testing::ValuesIn(kCommandCases));

class HandOffTest : public testing::Test {
  protected:
    HandOffTest() {
        machine.useLibrary();
        dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
        dialog->handoffRevision = "0200";
        dialog->deviceLink.inquiryVendor = "Kavo";
        dialog->matchedProductName = "TKW-5 CardRW";
    }

    std::string marker(const char* name) const {
        const std::optional<sim::RegistryValue> value =
            machine.registry.value(update::kMarkerKey, name);
        return value ? std::string(value->data.begin(), value->data.end()) : "<missing>";
    }

    UpdateMachine machine;
    std::unique_ptr<update::UpdateDialog> dialog;
};

// The staging buffers cut a text so that its terminator still fits.
TEST_F(HandOffTest, MarkerValuesAreStagedWithinTheirBuffers) {
    dialog->handoffRevision = "0200-and-much-more";
    dialog->matchedProductName = std::string(60, 'P');
    dialog->completeHandOff();
    EXPECT_EQ(marker("rev"), "0200-and-\0"s);
    EXPECT_EQ(marker("vender"), "Kavo\0"s);
    EXPECT_EQ(marker("product"), std::string(49, 'P') + '\0');
}

TEST_F(HandOffTest, ExistingMarkerValuesAreOverwritten) {
    machine.registry.setString(update::kMarkerKey, "rev", "0100");
    machine.registry.setString(update::kMarkerKey, "other", "kept");
    dialog->completeHandOff();
    EXPECT_EQ(marker("rev"), "0200\0"s);
    EXPECT_EQ(marker("other"), "kept\0"s);
}

TEST_F(HandOffTest, MissingRunOnceKeyIsNotCreatedAndTheRestGoesOn) {
    UpdateMachine local;
    ASSERT_EQ(local.registry.RegDeleteKeyA(win::hkeyLocalMachine(), update::kRunOnceKey),
              win::ERROR_SUCCESS);
    local.useLibrary();
    auto controller = std::make_unique<update::UpdateDialog>(local.services, local.application);
    controller->completeHandOff();
    EXPECT_FALSE(local.registry.keyExists(update::kRunOnceKey));
    EXPECT_TRUE(local.registry.keyExists(update::kMarkerKey));
    EXPECT_EQ(local.shownTemplates(), (std::vector<int>{kUpdateComplete, kPowerOffPrompt}));
    local.expectEverythingReleased();
}

TEST_F(HandOffTest, FailingMarkerKeyStillOffersThePowerOff) {
    machine.registry.injectFault(
        {sim::RegistryCall::Create, update::kMarkerKey, std::nullopt, win::ERROR_ACCESS_DENIED});
    dialog->completeHandOff();
    EXPECT_FALSE(machine.registry.keyExists(update::kMarkerKey));
    EXPECT_EQ(machine.shownTemplates(), (std::vector<int>{kUpdateComplete, kPowerOffPrompt}));
    EXPECT_TRUE(machine.poweredOff());
    machine.expectEverythingReleased();
}

TEST_F(HandOffTest, UnreadableCurrentDirectoryLeavesTheBareFileName) {
    machine.setup.faults.failCurrentDirectory = true;
    dialog->completeHandOff();
    const std::optional<sim::RegistryValue> value =
        machine.registry.value(update::kRunOnceKey, update::kRunOnceValue);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(std::string(value->data.begin(), value->data.end()), "\\Ardlow.exe\0"s);
}

struct PowerOffCase {
    const char* description;
    sim::TokenFault tokenFault;
    bool lookupFails;
    std::vector<std::string> expectedCalls;
};

void PrintTo(const PowerOffCase& c, std::ostream* out) {
    *out << c.description;
}

const PowerOffCase kPowerOffCases[] = {
    {.description = "privilege enabled",
     .tokenFault = sim::TokenFault::None,
     .lookupFails = false,
     .expectedCalls = {"OpenProcessToken(40)", "LookupPrivilegeValueA(SeShutdownPrivilege)",
                       "AdjustTokenPrivileges(0,1,2,16)", "ExitWindowsEx(12,0)"}},
    {.description = "token cannot be opened",
     .tokenFault = sim::TokenFault::OpenToken,
     .lookupFails = false,
     .expectedCalls = {"OpenProcessToken(40)", "LookupPrivilegeValueA(SeShutdownPrivilege)",
                       "ExitWindowsEx(12,0)"}},
    {.description = "privilege unknown",
     .tokenFault = sim::TokenFault::None,
     .lookupFails = true,
     .expectedCalls = {"OpenProcessToken(40)", "LookupPrivilegeValueA(SeShutdownPrivilege)",
                       "ExitWindowsEx(12,0)"}},
};

class PowerOffTest : public testing::TestWithParam<PowerOffCase> {};

// Whatever fails, the switch-off is still asked for and no handle is left
// open or closed that was never opened.
TEST_P(PowerOffTest, AsksForTheSwitchOffAndClosesOnlyWhatItOpened) {
    const PowerOffCase& c = GetParam();
    UpdateMachine machine;
    machine.setup.faults.token = c.tokenFault;
    machine.setup.faults.failPrivilegeLookup = c.lookupFails;
    auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
    dialog->powerOff();
    EXPECT_EQ(machine.powerCalls(), c.expectedCalls) << c.description;
    EXPECT_EQ(machine.system.argumentsOf("ExitWindowsEx"),
              std::vector<std::string>{std::to_string(win::EWX_POWEROFF | win::EWX_FORCE) + ",0"});
    EXPECT_EQ(machine.process.simSystem.openHandleCount(sim::SimSystem::HandleKind::Token), 0u)
        << c.description;
    const int expectedCloses = c.tokenFault == sim::TokenFault::OpenToken ? 0 : 1;
    EXPECT_EQ(machine.system.count("CloseHandle"), expectedCloses) << c.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, PowerOffTest, testing::ValuesIn(kPowerOffCases));

}  // namespace
