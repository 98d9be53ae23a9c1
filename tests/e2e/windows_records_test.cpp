// Both programs on a machine whose registry holds the reader's records as
// Windows writes them: the disk key with '_' for every character a device id
// may not hold, whatever the INQUIRY product holds.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "demo_scenario.h"
#include "e2e_support.h"
#include "sim/usb_registry_builder.h"

namespace e2e {
namespace {

using testsupport::PrintTo;
constexpr char kExampleProduct[] = "TKW-5 CardRW";
constexpr char kUpdatedInquiryRevision[] = "2.00";

// The example package with the example reader's product renamed in every
// column that names it.
std::filesystem::path packageForProduct(const std::string& product) {
    return packageWithTable("product", [product](const std::string& text) {
        std::string edited = text;
        const std::string from = kExampleProduct;
        for (std::size_t at = edited.find(from); at != std::string::npos;
             at = edited.find(from, at + product.size())) {
            edited.replace(at, from.size(), product);
        }
        return std::optional<std::string>(edited);
    });
}

// The disk keys the machine laid when the reader came back after its update.
std::vector<std::string> diskKeysAfterPowerOn(const simrun::RunResult& result) {
    std::vector<std::string> keys;
    for (const sim::MachineEvent& event : result.events) {
        if (event.kind == sim::EventKind::ReaderEnumerated && event.get(sim::field::kChanged))
            keys.push_back(event.get(sim::field::kStorageKey));
    }
    return keys;
}

struct ProductCase {
    const char* name;
    std::string product;
    std::string keyProduct;  // the product as the disk key's name spells it
};

class RecordsAsWindowsWritesThem : public ::testing::TestWithParam<ProductCase> {};

// The whole road: Velcrest finds the reader's USB identity and updates it,
// and after the power cycle Ardlow finds the updated reader's new revision
// and confirms it with 140.
TEST_P(RecordsAsWindowsWritesThem, TheWholeRoadEndsWith140InBothPrograms) {
    const ProductCase& c = GetParam();
    sim::Scenario scenario = simrun::demoScenario();
    scenario.machine.readers[0].inquiry.product = c.product;
    if (c.product != kExampleProduct) scenario.machine.programFolder = packageForProduct(c.product);
    const simrun::RunResult result = simrun::runScenario(scenario);

    ASSERT_EQ(result.exitStatus, simrun::kExitScenarioEnded);
    expectNothingLeftOpen(result);
    const std::vector<std::string> keys = diskKeysAfterPowerOn(result);
    ASSERT_EQ(keys.size(), 1u);
    const std::string key = std::string(sim::kUsbStorageEnumPath) + "\\Disk&Ven_Kavo&Prod_" +
                            c.keyProduct + "&Rev_" + kUpdatedInquiryRevision + "\\";
    EXPECT_EQ(keys[0].rfind(key, 0), 0u) << keys[0];

    const sim::MachineSummary& machine = result.summary.machine;
    EXPECT_TRUE(machine.readers[0].firmware.written());
    EXPECT_EQ(machine.readers[0].firmware.checksumMatches, std::optional<bool>(true));
    EXPECT_EQ(machine.readers[0].formatsCompleted, 1);
    EXPECT_EQ(machine.powerCycles, 1);
    EXPECT_FALSE(machine.markerPresent);
    EXPECT_EQ(lastWrite(result, sim::kMarkerKeyPath, "product"), c.product);
    EXPECT_TRUE(result.summary.showed(kUpdate, id(UT::UpdateComplete)));
    EXPECT_FALSE(result.summary.showed(kUpdate, id(UT::NoTableRow)));
    EXPECT_TRUE(result.summary.showed(kFormat, id(FT::RevisionMatches)));
    EXPECT_FALSE(result.summary.showed(kFormat, id(FT::RevisionDiffers)));
}

INSTANTIATE_TEST_SUITE_P(Products, RecordsAsWindowsWritesThem,
                         ::testing::Values(ProductCase{"Blank", kExampleProduct, "TKW-5_CardRW"},
                                           ProductCase{"NoBlank", "TKW-5-CardRW", "TKW-5-CardRW"},
                                           ProductCase{"Comma", "TKW-5,CardRW", "TKW-5_CardRW"},
                                           ProductCase{"TwoBlanks", "TKW 5 CardRW",
                                                       "TKW_5_CardRW"}),
                         NameOfCase{});

}  // namespace
}  // namespace e2e
