#include "sim/command_hooks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

enum class Kind { Read, Write };

using Hooks = sim::CommandHooks<Kind>;

Hooks::Matcher kindOn(char drive, Kind kind) {
    return [drive, kind](char letter, const Kind& call) { return letter == drive && call == kind; };
}

TEST(CommandHooksTest, RunsOnceJustBeforeTheNthMatchingCall) {
    Hooks hooks;
    std::string log;
    hooks.before(kindOn('E', Kind::Write), 2, [&] { log += "hook "; });
    const auto call = [&](char letter, Kind kind, const char* name) {
        hooks.coming(letter, kind);
        log += name;
        log += ' ';
    };

    call('E', Kind::Write, "w1");
    call('E', Kind::Read, "r1");
    call('F', Kind::Write, "fw1");
    call('E', Kind::Write, "w2");
    call('E', Kind::Write, "w3");

    EXPECT_EQ(log, "w1 r1 fw1 hook w2 w3 ");
}

TEST(CommandHooksTest, HooksDueOnOneCallRunInTheOrderSet) {
    Hooks hooks;
    std::string log;
    hooks.before(kindOn('E', Kind::Read), 1, [&] { log += "first "; });
    hooks.before(kindOn('E', Kind::Read), 1, [&] { log += "second "; });
    hooks.before(kindOn('E', Kind::Read), 2, [&] { log += "later "; });

    hooks.coming('E', Kind::Read);
    EXPECT_EQ(log, "first second ");
}

// A hook's action may make calls of its own (a program it starts): they are
// counted before the call that ran it goes on.
TEST(CommandHooksTest, CallsAnActionMakesAreCountedAtOnce) {
    Hooks hooks;
    std::string log;
    hooks.before(kindOn('E', Kind::Read), 1, [&] {
        log += "outer ";
        hooks.coming('E', Kind::Write);
    });
    hooks.before(kindOn('E', Kind::Write), 1, [&] { log += "inner "; });
    hooks.before(kindOn('E', Kind::Read), 2, [&] { log += "second-read "; });

    hooks.coming('E', Kind::Read);
    EXPECT_EQ(log, "outer inner ");
    hooks.coming('E', Kind::Write);
    hooks.coming('E', Kind::Read);
    EXPECT_EQ(log, "outer inner second-read ");
}

}  // namespace
