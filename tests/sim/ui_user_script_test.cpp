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
        {"select 2", UserAction::select(2)},
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
    for (const char* text : {"", "   ", "yes", "button", "button x", "select -1", "select",
                             "ok now", "button 1 2", "1x"})
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
    QueuedUserScript afterwards;
    TerminalUserScript script(in, out, afterwards);
    EXPECT_EQ(script.answer(dialog(151)), UserAction::cancel());
    const std::string shown = out.str();
    EXPECT_NE(shown.find("dialog 151 \"Caption 151\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("[1] OK (Enter) [2] Cancel"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Not an answer: \"maybe\""), std::string::npos) << shown;
}

TEST(TerminalUserScript, HandsOverWhenTheInputEnds) {
    std::istringstream in("ok\n");
    std::ostringstream out;
    QueuedUserScript afterwards;
    afterwards.setFallbackAnswer(UserAction::cancel());
    TerminalUserScript script(in, out, afterwards);
    EXPECT_EQ(script.answer(dialog(102)), UserAction::ok());
    EXPECT_EQ(script.answer(dialog(151)), UserAction::cancel());
    EXPECT_EQ(script.answer(dialog(140)), UserAction::cancel());
    EXPECT_EQ(out.str().find("input ended"), out.str().rfind("input ended")) << "said once";
}

}  // namespace
}  // namespace sim
