#include "sim/resource_script.h"

#include <algorithm>
#include <charconv>

#include "sim/resource_script_lexer.h"
#include "sim/windows_names.h"

// What a read resource script answers: its dialogs, controls and strings.

namespace sim {

namespace {

bool containsWord(const std::vector<std::string>& words, std::string_view word) {
    return std::any_of(words.begin(), words.end(),
                       [&](const std::string& each) { return sameName(each, word); });
}

}  // namespace

bool DialogControl::hasStyle(std::string_view word) const {
    return containsWord(styles, word);
}

std::optional<int> DialogControl::iconId() const {
    if (kind != ControlKind::Icon || text.empty()) return std::nullopt;
    int value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (parsed.ec != std::errc{} || parsed.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

bool DialogTemplate::hasStyle(std::string_view word) const {
    return containsWord(styles, word);
}

const DialogControl* DialogTemplate::control(int controlId) const {
    for (const DialogControl& each : controls) {
        if (each.id == controlId) return &each;
    }
    return nullptr;
}

std::vector<const DialogControl*> DialogTemplate::buttons() const {
    std::vector<const DialogControl*> found;
    for (const DialogControl& each : controls) {
        if (each.isButton()) found.push_back(&each);
    }
    return found;
}

int DialogTemplate::defaultButtonId() const {
    for (const DialogControl& each : controls) {
        if (each.kind == ControlKind::DefaultButton) return each.id;
    }
    return kIdOk;
}

const DialogTemplate* ResourceScript::dialog(int id) const {
    const auto found = dialogs.find(id);
    return found == dialogs.end() ? nullptr : &found->second;
}

const std::string* ResourceScript::string(int id) const {
    const auto found = strings.find(id);
    return found == strings.end() ? nullptr : &found->second;
}

std::string ScriptError::describe() const {
    return sourceName + ":" + std::to_string(line) + ": " + message;
}

std::string withoutMnemonics(std::string_view text) {
    std::string shown;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '&') {
            if (at + 1 < text.size() && text[at + 1] == '&') {
                shown += '&';
                ++at;
            }
            continue;
        }
        shown += text[at];
    }
    return shown;
}

}  // namespace sim
