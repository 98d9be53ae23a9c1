#include <gtest/gtest.h>

#include <sstream>

#include "sim/user_script.h"

namespace sim {
namespace {

TEST(UserActionParsing, ReadsEveryAnswerAScenarioCanGive) {
    UserAction menu7{UserActionKind::MenuCommand};
    menu7.menuId = 7;
    const std::pair<const char*, UserAction> cases[] = {
        {"ok", UserAction::ok()},
        {"OK", UserAction::ok()},
        {"cancel", UserAction::cancel()},
        {"1", UserAction::ok()},
        {"2", UserAction::cancel()},
        {"button 7", UserAction::button(7)},
        {"  Enter ", UserAction::enter()},
        {"escape", UserAction::escape()},
        {"esc", UserAction::escape()},
        {"close", UserAction::closeBox()},
        {"about", UserAction::about()},
        {"menu 7", menu7},
        {"select 2", UserAction::select(1)},
        {"clear", UserAction::select(-1)},
        {"suspend", UserAction::querySuspend()},
        {"minimise", UserAction::minimise()},
        {"minimize", UserAction::minimise()},
        {"restore", UserAction::restore()},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = parseUserAction(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, expected) << text;
        // What an action says of itself reads back as the same action.
        EXPECT_EQ(parseUserAction(parsed->describe()), expected) << parsed->describe();
    }
}

TEST(UserActionParsing, RefusesWhatIsNoAnswer) {
    for (const char* text : {"", "   ", "yes", "button", "button x", "select -1", "select 0",
                             "select", "ok now", "button 1 2", "1x"})
        EXPECT_FALSE(parseUserAction(text).has_value()) << '"' << text << '"';
}

DialogView dialog(int templateId) {
    DialogView view;
    view.templateId = templateId;
    view.caption = "Caption " + std::to_string(templateId);
    view.buttons = {{1, "OK", true}, {2, "Cancel", false}};
    view.hasCloseBox = true;
    return view;
}

TEST(QueuedUserScript, AnswersInOrderThenByDefaultThenByFallback) {
    QueuedUserScript script;
    script.queueAnswer(147, UserAction::cancel());
    script.queueAnswer(147, UserAction::closeBox());
    script.setDefaultAnswer(147, UserAction::ok());
    script.setFallbackAnswer(UserAction::escape());
    EXPECT_EQ(script.pendingAnswers(147), 2u);

    EXPECT_EQ(script.answer(dialog(147)), UserAction::cancel());
    EXPECT_EQ(script.answer(dialog(151)), UserAction::escape())
        << "other templates keep their own queue";
    EXPECT_EQ(script.answer(dialog(147)), UserAction::closeBox());
    EXPECT_EQ(script.pendingAnswers(147), 0u);
    EXPECT_EQ(script.answer(dialog(147)), UserAction::ok());
    EXPECT_EQ(script.answer(dialog(147)), UserAction::ok());
}

TEST(QueuedUserScript, FallbackIsEnterUnlessSet) {
    QueuedUserScript script;
    EXPECT_EQ(script.answer(dialog(102)), UserAction::enter());
}

TEST(TerminalUserScript, AsksAgainAfterALineItCannotRead) {
    std::istringstream in("maybe\ncancel\n");
    std::ostringstream out;
    Terminal terminal{in, out};
    QueuedUserScript afterwards;
    TerminalUserScript script(terminal, afterwards);
    EXPECT_EQ(script.answer(dialog(151)), UserAction::cancel());
    const std::string shown = out.str();
    EXPECT_NE(shown.find("dialog 151 \"Caption 151\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("[1] OK (Enter) [2] Cancel"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Not an answer: \"maybe\""), std::string::npos) << shown;
}

TEST(TerminalUserScript, AnEmptyLineIsEnterAndListItemsAreNumberedAsTheyAreSelected) {
    std::istringstream in("\nselect 2\n");
    std::ostringstream out;
    Terminal terminal{in, out};
    QueuedUserScript afterwards;
    TerminalUserScript script(terminal, afterwards);
    DialogView drives = dialog(144);
    drives.comboItems = {"E:", "G:"};
    drives.comboSelection = 0;
    EXPECT_EQ(script.answer(drives), UserAction::enter());
    EXPECT_EQ(script.answer(drives), UserAction::select(1)) << "the second item, shown as 2";
    const std::string shown = out.str();
    EXPECT_NE(shown.find("1. E: (selected)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("2. G:"), std::string::npos) << shown;
}

TEST(TerminalUserScript, HandsOverWhenTheInputEndsAndSaysSoOnceForEveryProgram) {
    std::istringstream in("ok\n");
    std::ostringstream out;
    Terminal terminal{in, out};
    QueuedUserScript afterwards;
    afterwards.setFallbackAnswer(UserAction::cancel());
    TerminalUserScript update(terminal, afterwards);
    TerminalUserScript format(terminal, afterwards);
    EXPECT_EQ(update.answer(dialog(102)), UserAction::ok());
    EXPECT_EQ(update.answer(dialog(151)), UserAction::cancel());
    EXPECT_EQ(format.answer(dialog(140)), UserAction::cancel());
    EXPECT_EQ(update.answer(dialog(140)), UserAction::cancel());
    const std::string shown = out.str();
    ASSERT_NE(shown.find("input ended"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("input ended"), shown.rfind("input ended")) << "said once";
}

}  // namespace
}  // namespace sim
