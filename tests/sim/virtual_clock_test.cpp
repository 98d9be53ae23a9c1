#include "sim/virtual_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/case_names.h"

namespace {

using testsupport::NameOfCase;
using testsupport::PrintTo;

// What ran, and what the clock showed when it did: "a@1000 b@3000".
class TimetableLog {
  public:
    explicit TimetableLog(sim::VirtualClock& clock) : clock_(clock) {}

    sim::VirtualClock::Action note(char label) {
        return [this, label] {
            if (!text_.empty()) text_ += ' ';
            text_ += std::string(1, label) + "@" + std::to_string(clock_.now());
        };
    }
    const std::string& text() const { return text_; }

  private:
    sim::VirtualClock& clock_;
    std::string text_;
};

struct TimetableCase {
    const char* name;
    std::vector<std::pair<std::uint64_t, char>> moments;  // in the order they are set
    std::vector<win::DWORD> sleeps;
    std::string expectedRuns;
    std::uint64_t endsAt;
};

class TimetableTest : public ::testing::TestWithParam<TimetableCase> {};

TEST_P(TimetableTest, ActionsRunAsTheWaitsReachTheirMoments) {
    const TimetableCase& test = GetParam();
    sim::VirtualClock clock;
    TimetableLog log(clock);
    for (const auto& [tick, label] : test.moments) clock.at(tick, log.note(label));

    for (const win::DWORD sleep : test.sleeps) clock.Sleep(sleep);

    EXPECT_EQ(log.text(), test.expectedRuns);
    EXPECT_EQ(clock.now(), test.endsAt);
    EXPECT_EQ(clock.GetTickCount(), static_cast<win::DWORD>(test.endsAt));
}

INSTANTIATE_TEST_SUITE_P(
    Moments, TimetableTest,
    ::testing::Values(TimetableCase{.name = "RunsOnceAtItsMomentInsideALongerWait",
                                    .moments = {{1000, 'a'}},
                                    .sleeps = {400, 400, 400, 400},
                                    .expectedRuns = "a@1000",
                                    .endsAt = 1600},
                      TimetableCase{.name = "WaitEndingAtTheMomentReachesIt",
                                    .moments = {{1000, 'a'}},
                                    .sleeps = {1000},
                                    .expectedRuns = "a@1000",
                                    .endsAt = 1000},
                      TimetableCase{.name = "MomentPastTheWaitsNeverComes",
                                    .moments = {{1001, 'a'}},
                                    .sleeps = {500, 500},
                                    .expectedRuns = "",
                                    .endsAt = 1000},
                      TimetableCase{.name = "SameMomentRunsInTheOrderSet",
                                    .moments = {{500, 'b'}, {500, 'a'}, {500, 'c'}},
                                    .sleeps = {1000},
                                    .expectedRuns = "b@500 a@500 c@500",
                                    .endsAt = 1000},
                      TimetableCase{.name = "EarlierMomentFirstWhateverTheOrderSet",
                                    .moments = {{800, 'b'}, {200, 'a'}},
                                    .sleeps = {1000},
                                    .expectedRuns = "a@200 b@800",
                                    .endsAt = 1000},
                      TimetableCase{.name = "WaitOfNoTimeRunsWhatIsDueAtTheStart",
                                    .moments = {{0, 'a'}, {1, 'b'}},
                                    .sleeps = {0},
                                    .expectedRuns = "a@0",
                                    .endsAt = 0}),
    NameOfCase());

// An action that waits itself (a program started at that moment) takes the
// later moments with it, and the wait it came from never turns time back.
TEST(VirtualClockTest, ActionThatSleepsRunsLaterMomentsAndTimeNeverGoesBack) {
    sim::VirtualClock clock;
    TimetableLog log(clock);
    clock.at(100, [&] {
        log.note('o')();
        clock.Sleep(500);
    });
    clock.at(300, log.note('i'));
    clock.at(700, log.note('l'));

    clock.Sleep(200);
    EXPECT_EQ(log.text(), "o@100 i@300");
    EXPECT_EQ(clock.now(), 600u);

    clock.Sleep(100);
    EXPECT_EQ(log.text(), "o@100 i@300 l@700");
    EXPECT_EQ(clock.now(), 700u);
}

TEST(VirtualClockTest, RunDueTakesWhatIsDueWithoutLettingTimePass) {
    sim::VirtualClock clock;
    TimetableLog log(clock);
    clock.at(0, log.note('a'));
    clock.at(10, log.note('b'));

    clock.runDue();
    EXPECT_EQ(log.text(), "a@0");
    EXPECT_EQ(clock.now(), 0u);
    clock.runDue();
    EXPECT_EQ(log.text(), "a@0");
}

// An action may set another for a moment the same wait still reaches.
TEST(VirtualClockTest, ActionMaySetALaterMomentOfTheSameWait) {
    sim::VirtualClock clock;
    TimetableLog log(clock);
    clock.at(100, [&] {
        log.note('a')();
        clock.at(400, log.note('b'));
    });

    clock.Sleep(1000);
    EXPECT_EQ(log.text(), "a@100 b@400");
}

}  // namespace
