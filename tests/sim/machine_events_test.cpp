#include "sim/machine_events.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

namespace field = sim::field;

sim::MachineEvent registryValueSet() {
    return sim::MachineEvent{sim::EventKind::RegistryValueSet,
                             0,
                             "Velcrest.exe",
                             {{field::kKey, "SOFTWARE\\Kavo Corporation\\Pendrel"},
                              {field::kName, "Stage"},
                              {field::kType, "REG_SZ"},
                              {field::kDataText, "update"},
                              {field::kTerminated, true}}};
}

TEST(MachineEvents, FieldsAreReadByTheirOneName) {
    const sim::MachineEvent event = registryValueSet();
    EXPECT_EQ(event.get(field::kName), "Stage");
    EXPECT_EQ(event.get(field::kDataText), "update");
    EXPECT_TRUE(event.get(field::kTerminated));
    EXPECT_TRUE(event.has(field::kDataText));
}

// A field the event does not carry, or carries with a value of another type,
// is a mistake of the reader: it must not read as empty or 0.
TEST(MachineEvents, ReadingAFieldTheEventDoesNotCarryFailsLoudly) {
    const sim::MachineEvent event = registryValueSet();
    EXPECT_FALSE(event.has(field::kDrive));
    EXPECT_FALSE(event.has(field::kDataNumber)) << "the data is text";
    EXPECT_FALSE(event.has(field::kDataTexts));
    try {
        (void)event.get(field::kDrive);
        ADD_FAILURE() << "a missing field read without a word";
    } catch (const std::logic_error& error) {
        const std::string what = error.what();
        EXPECT_NE(what.find("registry-set"), std::string::npos) << what;
        EXPECT_NE(what.find("\"drive\""), std::string::npos) << what;
    }
    EXPECT_THROW((void)event.get(field::kDataNumber), std::logic_error);
    EXPECT_THROW((void)event.get(field::kDataTexts), std::logic_error);
}

}  // namespace
