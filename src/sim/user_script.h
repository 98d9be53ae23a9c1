#pragma once

#include <cstddef>
#include <deque>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The system-menu entry the programs add for their About box.
inline constexpr int kAboutMenuCommand = 16;

// What the simulated person does while a dialog is in front of them.
enum class UserActionKind {
    PressButton,   // clicks the button with `buttonId`
    PressEnter,    // the key goes through the dialog's key hook, then the dialog manager
    PressEscape,   // likewise
    CloseBox,      // the caption's close box
    MenuCommand,   // picks entry `menuId` of the window's system menu
    SelectItem,    // picks item `itemIndex` of the combo box; -1 clears the choice
    QuerySuspend,  // the machine asks to suspend while the dialog is open
    Minimise,      // minimises the window (it then paints its icon)
    Restore,
};

struct UserAction {
    UserActionKind kind = UserActionKind::PressEnter;
    int buttonId = 0;
    int menuId = 0;
    int itemIndex = -1;

    static UserAction button(int id);
    static UserAction ok();
    static UserAction cancel();
    static UserAction enter() { return {UserActionKind::PressEnter}; }
    static UserAction escape() { return {UserActionKind::PressEscape}; }
    static UserAction closeBox() { return {UserActionKind::CloseBox}; }
    static UserAction about();
    static UserAction select(int index);
    static UserAction querySuspend() { return {UserActionKind::QuerySuspend}; }
    static UserAction minimise() { return {UserActionKind::Minimise}; }
    static UserAction restore() { return {UserActionKind::Restore}; }

    // "button 2", "enter", "select 1", ... in the words parseUserAction reads.
    std::string describe() const;
    bool operator==(const UserAction&) const = default;
};

// Reads an answer as a scenario file or a person at the terminal writes it:
// "ok", "cancel", a button number or "button N", "enter", "escape" ("esc"),
// "close", "about", "menu N", "select N" (the list's items counted from 1,
// as they are shown), "clear", "suspend", "minimise", "restore". Case does
// not matter; none for anything else.
std::optional<UserAction> parseUserAction(std::string_view text);

struct ButtonView {
    int id = 0;
    std::string text;
    bool isDefault = false;
};

// A dialog as the person in front of it sees it.
struct DialogView {
    int templateId = 0;
    std::string caption;
    std::vector<std::string> texts;
    std::vector<ButtonView> buttons;
    std::vector<std::string> comboItems;
    int comboSelection = -1;
    bool modal = true;
    bool hasCloseBox = false;
};

// Answers the dialogs the programs show.
class UserScript {
  public:
    virtual ~UserScript() = default;
    virtual UserAction answer(const DialogView& dialog) = 0;
};

// Answers per template: first the answers queued for it, in order; then its
// default answer; then the fallback (Enter, the dialog's default button,
// unless set otherwise).
class QueuedUserScript final : public UserScript {
  public:
    void queueAnswer(int templateId, UserAction action);
    void setDefaultAnswer(int templateId, UserAction action);
    void setFallbackAnswer(UserAction action) { fallback_ = action; }
    std::size_t pendingAnswers(int templateId) const;

    UserAction answer(const DialogView& dialog) override;

  private:
    std::map<int, std::deque<UserAction>> queued_;
    std::map<int, UserAction> defaults_;
    UserAction fallback_ = UserAction::enter();
};

// The terminal a person answers at, shared by the dialogs of every program
// so that the end of its input is told once.
struct Terminal {
    std::istream& in;
    std::ostream& out;
    bool inputEnded = false;
};

// A person at the terminal: shows the choices for each dialog (the list's
// items numbered from 1) and reads the answer from a line of input; an empty
// line is Enter, the default button. It asks again after a line it cannot
// read. When the input ends, the rest of the run is answered by
// `whenInputEnds`.
class TerminalUserScript final : public UserScript {
  public:
    TerminalUserScript(Terminal& terminal, UserScript& whenInputEnds);

    UserAction answer(const DialogView& dialog) override;

  private:
    void showChoices(const DialogView& dialog);

    Terminal& terminal_;
    UserScript& whenInputEnds_;
};

}  // namespace sim
