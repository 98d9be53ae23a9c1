#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_ui.h"
#include "sim/user_script.h"

namespace testsupport {

// What the simulated screen showed and what the person did there, in the
// order it happened, for a test to read back.
struct DialogLog final : sim::UiObserver {
    std::vector<int> shown;  // modal dialogs that came up
    std::vector<std::string> answers;
    std::vector<std::string> refusals;
    std::vector<std::pair<int, win::INT_PTR>> closed;
    std::vector<int> missing;
    std::vector<bool> suspendQueries;  // true: refused
    std::vector<sim::ProgressBarState> progress;
    // Each progress bar's last state, by control id.
    std::map<int, sim::ProgressBarState> lastBar;
    std::vector<std::string> guardStops;
    // Every combo box a dialog filled, one entry per dialog that had it, in
    // the order they were first used, as it stood when last changed.
    struct Combo {
        int templateId = 0;
        int controlId = 0;
        sim::ComboBoxState state;
        bool open = true;
    };
    std::vector<Combo> combos;

    void dialogShown(const sim::DialogView& dialog) override { shown.push_back(dialog.templateId); }
    void dialogAnswered(int /*templateId*/, const sim::UserAction& action) override {
        answers.push_back(action.describe());
    }
    void answerRefused(int /*templateId*/, const sim::UserAction& /*action*/,
                       const std::string& reason) override {
        refusals.push_back(reason);
    }
    void dialogClosed(int templateId, win::INT_PTR result) override {
        closed.emplace_back(templateId, result);
        closeCombosOf(templateId);
    }
    void modelessDestroyed(int templateId) override { closeCombosOf(templateId); }
    void comboChanged(int templateId, int controlId, const sim::ComboBoxState& combo) override {
        const auto current = std::find_if(combos.rbegin(), combos.rend(), [&](const Combo& each) {
            return each.open && each.templateId == templateId && each.controlId == controlId;
        });
        if (current == combos.rend()) {
            combos.push_back({templateId, controlId, combo});
        } else {
            current->state = combo;
        }
    }
    void templateMissing(int templateId, bool /*modal*/) override { missing.push_back(templateId); }
    void suspendQuery(bool refused) override { suspendQueries.push_back(refused); }
    void progressChanged(int /*templateId*/, int controlId,
                         const sim::ProgressBarState& bar) override {
        progress.push_back(bar);
        lastBar[controlId] = bar;
    }
    void loopGuardStopped(const std::string& reason) override { guardStops.push_back(reason); }

  private:
    void closeCombosOf(int templateId) {
        for (Combo& combo : combos) {
            if (combo.templateId == templateId) combo.open = false;
        }
    }
};

}  // namespace testsupport
