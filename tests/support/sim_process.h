#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "sim/resource_script.h"
#include "sim/sim_system.h"
#include "sim/sim_ui.h"
#include "sim/user_script.h"
#include "support/dialog_log.h"
#include "support/recording_system.h"
#include "support/recording_ui.h"

namespace testsupport {

// The person at a test's machine: answers queued per template, then the
// template's default, then OK; Cancel on a dialog without a Cancel button is
// given with the Escape key. A test may also act while a dialog of a
// template is open, before each answer; when that ends the dialog or asks
// the program to quit, no answer follows.
class ScriptedUser final : public sim::UserScript {
  public:
    ScriptedUser() { answers_.setFallbackAnswer(sim::UserAction::ok()); }
    // The screen the person looks at, to find the dialog they act on.
    void lookAt(const sim::SimUi& ui) { ui_ = &ui; }

    void answer(int templateId, win::INT_PTR button);
    void answer(int templateId, sim::UserAction action) {
        answers_.queueAnswer(templateId, action);
    }
    void answerAlways(int templateId, win::INT_PTR button);
    void setFallbackAnswer(sim::UserAction action) { answers_.setFallbackAnswer(action); }
    void whileOpen(int templateId, std::function<void(win::HWND)> action);

    sim::UserAction answer(const sim::DialogView& dialog) override;

  private:
    win::HWND openModal(int templateId) const;
    static sim::UserAction asAPersonWould(const sim::UserAction& action,
                                          const sim::DialogView& dialog);

    const sim::SimUi* ui_ = nullptr;
    sim::QueuedUserScript answers_;
    std::map<int, std::function<void(win::HWND)>> whileOpen_;
};

// Reads a resource script written in a test; the test fails on a script the
// reader refuses.
std::shared_ptr<const sim::ResourceScript> parsedScript(std::string_view text);
// One of the repository's resource scripts (resources/KELDRA_ENG.rc, ...).
std::shared_ptr<const sim::ResourceScript> repositoryScript(const std::string& fileName);
// The script without the given templates, for a library that lacks them.
std::shared_ptr<const sim::ResourceScript> withoutTemplates(
    const std::shared_ptr<const sim::ResourceScript>& script, const std::set<int>& ids);

// One program run on the simulated backends, as the machine makes one: the
// process's system on its setup, its dialogs answering the scripted user,
// and the language libraries LoadLibraryA finds by bare name; each seam
// reached through a recorder, so a test can also see the calls.
class SimProcess {
  public:
    SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // LoadLibraryA finds `fileName` ("KELDRA_ENG.dll") with these resources.
    void offerLibrary(const std::string& fileName,
                      std::shared_ptr<const sim::ResourceScript> resources);
    // No library is found any more (a program folder without them).
    void withdrawLibraries() { offered_.clear(); }
    // The module handle the library got when it was loaded; null before.
    win::HMODULE loadedModule(const std::string& fileName) const;
    // Libraries loaded and not freed.
    std::size_t librariesHeld() const { return modules_.size(); }

    sim::SystemSetup setup;
    sim::MutexTable mutexes;
    ScriptedUser user;
    sim::SimUi simUi{user};
    // What the screen showed; SimUi reports to it from the start.
    DialogLog screen;
    sim::SimSystem simSystem{setup, mutexes};
    RecordingUi ui{simUi};
    RecordingSystem system{simSystem};

  private:
    std::map<std::string, std::shared_ptr<const sim::ResourceScript>, std::less<>> offered_;
    std::map<std::string, win::HMODULE, std::less<>> loadedByName_;
    std::map<win::HMODULE, std::string> modules_;
};

}  // namespace testsupport
