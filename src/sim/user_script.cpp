#include "sim/user_script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <istream>
#include <ostream>
#include <sstream>

#include "sim/resource_script.h"
#include "sim/windows_names.h"

namespace sim {

namespace {

std::optional<int> wholeNumber(std::string_view text) {
    int value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc{} || parsed.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

struct NamedAction {
    std::string_view word;
    UserAction action;
};

const NamedAction kNamedActions[] = {
    {"ok", UserAction::ok()},
    {"cancel", UserAction::cancel()},
    {"enter", UserAction::enter()},
    {"escape", UserAction::escape()},
    {"esc", UserAction::escape()},
    {"close", UserAction::closeBox()},
    {"about", UserAction::about()},
    {"clear", UserAction::select(-1)},
    {"suspend", UserAction::querySuspend()},
    {"minimise", UserAction::minimise()},
    {"minimize", UserAction::minimise()},
    {"restore", UserAction::restore()},
};

}  // namespace

UserAction UserAction::button(int id) {
    UserAction action{UserActionKind::PressButton};
    action.buttonId = id;
    return action;
}

UserAction UserAction::ok() {
    return button(kIdOk);
}
UserAction UserAction::cancel() {
    return button(kIdCancel);
}

UserAction UserAction::about() {
    UserAction action{UserActionKind::MenuCommand};
    action.menuId = kAboutMenuCommand;
    return action;
}

UserAction UserAction::select(int index) {
    UserAction action{UserActionKind::SelectItem};
    action.itemIndex = index;
    return action;
}

std::string UserAction::describe() const {
    switch (kind) {
        case UserActionKind::PressButton:
            if (buttonId == kIdOk) return "ok";
            if (buttonId == kIdCancel) return "cancel";
            return "button " + std::to_string(buttonId);
        case UserActionKind::PressEnter:
            return "enter";
        case UserActionKind::PressEscape:
            return "escape";
        case UserActionKind::CloseBox:
            return "close";
        case UserActionKind::MenuCommand:
            return menuId == kAboutMenuCommand ? "about" : "menu " + std::to_string(menuId);
        case UserActionKind::SelectItem:
            return itemIndex < 0 ? "clear" : "select " + std::to_string(itemIndex + 1);
        case UserActionKind::QuerySuspend:
            return "suspend";
        case UserActionKind::Minimise:
            return "minimise";
        case UserActionKind::Restore:
            return "restore";
    }
    return "?";
}

std::optional<UserAction> parseUserAction(std::string_view text) {
    std::istringstream words{nameKey(text)};
    std::string first;
    std::string second;
    std::string extra;
    words >> first >> second >> extra;
    if (first.empty() || !extra.empty()) return std::nullopt;
    if (second.empty()) {
        for (const NamedAction& named : kNamedActions) {
            if (first == named.word) return named.action;
        }
        if (const auto id = wholeNumber(first)) return UserAction::button(*id);
        return std::nullopt;
    }
    const auto number = wholeNumber(second);
    if (!number) return std::nullopt;
    if (first == "button") return UserAction::button(*number);
    // Items are counted from 1, as the transcript and the terminal number them.
    if (first == "select" && *number >= 1) return UserAction::select(*number - 1);
    if (first == "menu") {
        UserAction action{UserActionKind::MenuCommand};
        action.menuId = *number;
        return action;
    }
    return std::nullopt;
}

void QueuedUserScript::queueAnswer(int templateId, UserAction action) {
    queued_[templateId].push_back(action);
}

void QueuedUserScript::setDefaultAnswer(int templateId, UserAction action) {
    defaults_[templateId] = action;
}

std::size_t QueuedUserScript::pendingAnswers(int templateId) const {
    const auto found = queued_.find(templateId);
    return found == queued_.end() ? 0 : found->second.size();
}

UserAction QueuedUserScript::answer(const DialogView& dialog) {
    const auto queue = queued_.find(dialog.templateId);
    if (queue != queued_.end() && !queue->second.empty()) {
        const UserAction next = queue->second.front();
        queue->second.pop_front();
        return next;
    }
    const auto preset = defaults_.find(dialog.templateId);
    return preset != defaults_.end() ? preset->second : fallback_;
}

TerminalUserScript::TerminalUserScript(Terminal& terminal, UserScript& whenInputEnds)
    : terminal_(terminal), whenInputEnds_(whenInputEnds) {}

void TerminalUserScript::showChoices(const DialogView& dialog) {
    std::ostream& out = terminal_.out;
    out << "Your answer to dialog " << dialog.templateId << " \"" << dialog.caption << "\":";
    for (const ButtonView& button : dialog.buttons) {
        out << " [" << button.id << "] " << button.text << (button.isDefault ? " (Enter)" : "");
    }
    for (std::size_t i = 0; i < dialog.comboItems.size(); ++i) {
        out << "\n  " << i + 1 << ". " << dialog.comboItems[i]
            << (static_cast<int>(i) == dialog.comboSelection ? " (selected)" : "");
    }
    out << "\n  or: enter (or an empty line), escape" << (dialog.hasCloseBox ? ", close" : "")
        << (dialog.comboItems.empty() ? "" : ", select N, clear") << ", about, suspend\n> "
        << std::flush;
}

UserAction TerminalUserScript::answer(const DialogView& dialog) {
    while (!terminal_.inputEnded) {
        showChoices(dialog);
        std::string line;
        if (!std::getline(terminal_.in, line)) {
            terminal_.inputEnded = true;
            terminal_.out << "\n(input ended; the scripted answers take over)\n";
            break;
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) return UserAction::enter();
        if (const auto action = parseUserAction(line)) return *action;
        terminal_.out << "Not an answer: \"" << line << "\"\n";
    }
    return whenInputEnds_.answer(dialog);
}

}  // namespace sim
