#include "support/sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace testsupport {

namespace {
// A pick of a system-menu entry no dialog has: every dialog refuses it, so
// the person does nothing this turn.
const sim::UserAction kNothing{sim::UserActionKind::MenuCommand, 0, 0, -1};
}  // namespace

void ScriptedUser::answer(int templateId, win::INT_PTR button) {
    answers_.queueAnswer(templateId, sim::UserAction::button(static_cast<int>(button)));
}

void ScriptedUser::answerAlways(int templateId, win::INT_PTR button) {
    answers_.setDefaultAnswer(templateId, sim::UserAction::button(static_cast<int>(button)));
}

void ScriptedUser::whileOpen(int templateId, std::function<void(win::HWND)> action) {
    whileOpen_[templateId] = std::move(action);
}

win::HWND ScriptedUser::openModal(int templateId) const {
    win::HWND found = nullptr;
    for (const win::HWND window : ui_->openWindows()) {
        const auto view = ui_->view(window);
        if (view && view->modal && view->templateId == templateId && ui_->isVisible(window)) {
            found = window;  // the newest of its template
        }
    }
    return found;
}

sim::UserAction ScriptedUser::answer(const sim::DialogView& dialog) {
    const auto action = whileOpen_.find(dialog.templateId);
    if (action != whileOpen_.end() && ui_ != nullptr) {
        const win::HWND window = openModal(dialog.templateId);
        action->second(window);
        if (!ui_->isVisible(window) || ui_->quitPending()) return kNothing;
    }
    return asAPersonWould(answers_.answer(dialog), dialog);
}

// Cancel asked of a notice that has only OK is what Escape gives there: the
// dialog manager turns the key into the Cancel command.
sim::UserAction ScriptedUser::asAPersonWould(const sim::UserAction& action,
                                             const sim::DialogView& dialog) {
    const bool cancel =
        action.kind == sim::UserActionKind::PressButton && action.buttonId == sim::kIdCancel;
    const bool hasCancel =
        std::any_of(dialog.buttons.begin(), dialog.buttons.end(),
                    [](const sim::ButtonView& button) { return button.id == sim::kIdCancel; });
    return cancel && !hasCancel ? sim::UserAction::escape() : action;
}

std::shared_ptr<const sim::ResourceScript> parsedScript(std::string_view text) {
    sim::ScriptReading reading = sim::readResourceScript(text, "test.rc");
    EXPECT_TRUE(reading.ok()) << (reading.error ? reading.error->describe() : "");
    return std::make_shared<const sim::ResourceScript>(std::move(reading.script));
}

std::shared_ptr<const sim::ResourceScript> repositoryScript(const std::string& fileName) {
    sim::ScriptReading reading = sim::readResourceScriptFile(
        std::filesystem::path(VELCREST_SOURCE_DIR) / "resources" / fileName);
    EXPECT_TRUE(reading.ok()) << (reading.error ? reading.error->describe() : "");
    return std::make_shared<const sim::ResourceScript>(std::move(reading.script));
}

std::shared_ptr<const sim::ResourceScript> withoutTemplates(
    const std::shared_ptr<const sim::ResourceScript>& script, const std::set<int>& ids) {
    auto reduced = std::make_shared<sim::ResourceScript>(*script);
    for (const int id : ids) reduced->dialogs.erase(id);
    return reduced;
}

SimProcess::SimProcess() {
    user.lookAt(simUi);
    simUi.setObserver(&screen);
    simSystem.setLibraryLoader(
        [this](const std::string& name) -> win::HMODULE {
            const auto found = offered_.find(name);
            if (found == offered_.end()) return nullptr;
            const win::HMODULE module = simUi.addModule(found->second);
            modules_[module] = name;
            loadedByName_[name] = module;
            return module;
        },
        [this](win::HMODULE module) {
            if (modules_.erase(module) == 0) return false;
            simUi.removeModule(module);
            return true;
        });
}

void SimProcess::offerLibrary(const std::string& fileName,
                              std::shared_ptr<const sim::ResourceScript> resources) {
    offered_[fileName] = std::move(resources);
}

win::HMODULE SimProcess::loadedModule(const std::string& fileName) const {
    const auto found = loadedByName_.find(fileName);
    return found == loadedByName_.end() ? nullptr : found->second;
}

}  // namespace testsupport
