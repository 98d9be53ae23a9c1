#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "sim/resource_script.h"
#include "sim/sim_controls.h"
#include "sim/user_script.h"

namespace sim {

struct MenuItem {
    win::UINT flags = 0;
    win::UINT_PTR id = 0;
    std::string text;
};

// What the simulated screen shows and what the person does, for the
// transcript. SimUi reports; it never prints.
class UiObserver {
  public:
    virtual ~UiObserver() = default;
    // A modal dialog came up (after its initialisation, unless that ended it).
    virtual void dialogShown(const DialogView& /*dialog*/) {}
    virtual void dialogAnswered(int /*templateId*/, const UserAction& /*action*/) {}
    // An answer the dialog cannot take (a button it does not have, ...).
    virtual void answerRefused(int /*templateId*/, const UserAction& /*action*/,
                               const std::string& /*reason*/) {}
    virtual void dialogClosed(int /*templateId*/, win::INT_PTR /*result*/) {}
    virtual void templateMissing(int /*templateId*/, bool /*modal*/) {}
    virtual void modelessCreated(const DialogView& /*dialog*/) {}
    virtual void modelessDestroyed(int /*templateId*/) {}
    virtual void progressChanged(int /*templateId*/, int /*controlId*/,
                                 const ProgressBarState& /*bar*/) {}
    virtual void comboChanged(int /*templateId*/, int /*controlId*/,
                              const ComboBoxState& /*combo*/) {}
    virtual void suspendQuery(bool /*refused*/) {}
    virtual void quitPosted(int /*exitCode*/) {}
    virtual void loopGuardStopped(const std::string& /*reason*/) {}
};

// Bounds that keep a scenario whose user would go round forever from doing
// so: the answers the scripted user gives, and the passes over the message
// queue (PeekMessageA and GetMessageA calls).
struct LoopGuardLimits {
    std::size_t maxAnswers = 1000;
    std::size_t maxPasses = 1000000;
};

// The simulated user interface: dialogs from parsed resource scripts, their
// controls, the message queue and the scripted person in front of it.
//
// A modal dialog runs a loop as the platform's does: pending messages first
// (a quit message ends the loop with -1 and is posted again), then, when the
// queue is empty, the person acts. Keys go through the dialog's key hook and
// then the dialog manager (Enter presses the default button, Escape is
// Cancel); buttons, the close box and menu entries reach the window
// procedure as the platform sends them.
//
// When the loop guard trips, SimUi stops asking the person, posts a quit
// message and from then on every modal dialog ends at once with -1; the
// guard handler is told, since only the machine can stop a program that
// ignores those results (a loop that shows a notice until the medium is
// writable, say).
class SimUi final : public platform::Ui {
  public:
    explicit SimUi(UserScript& user);
    ~SimUi() override;
    SimUi(const SimUi&) = delete;
    SimUi& operator=(const SimUi&) = delete;

    // --- the machine's side -------------------------------------------------

    // A loaded resource library; the handle is what LoadLibraryA returns.
    win::HMODULE addModule(std::shared_ptr<const ResourceScript> resources);
    // FreeLibrary: its resources are gone; the handle is not reused.
    void removeModule(win::HMODULE module);
    // What the program itself carries (template 100, string 101, the icons).
    void setProgramResources(std::shared_ptr<const ResourceScript> resources);

    void setObserver(UiObserver* observer) { observer_ = observer; }
    void setUserScript(UserScript& user) { user_ = &user; }
    void setLoopGuard(LoopGuardLimits limits) { limits_ = limits; }
    void setGuardHandler(std::function<void()> handler) { guardHandler_ = std::move(handler); }

    bool stoppedByLoopGuard() const { return stopped_; }
    const std::string& loopGuardReason() const { return guardReason_; }
    std::size_t answersGiven() const { return answers_; }
    std::size_t passes() const { return passes_; }

    // The platform's question to every open window whether the machine may
    // suspend; true when a window refused.
    bool querySuspend();
    // A person's action on any open window, a modeless one included; false
    // when the window cannot take it (the observer hears why).
    bool act(win::HWND window, const UserAction& action);
    void postMessage(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);
    void setIconic(win::HWND window, bool iconic);

    // --- inspection ---------------------------------------------------------

    std::vector<win::HWND> openWindows() const;
    std::optional<DialogView> view(win::HWND window) const;
    bool isVisible(win::HWND window) const;
    bool isCentred(win::HWND window) const;
    int redrawCount(win::HWND window) const;
    std::optional<ProgressBarState> progressBar(win::HWND dialog, int controlId) const;
    std::vector<MenuItem> systemMenu(win::HWND window) const;
    win::HICON windowIcon(win::HWND window, win::WPARAM which) const;
    // Where the platform keeps a dialog's message result (DWLP_MSGRESULT).
    win::LRESULT messageResult(win::HWND window) const;
    bool quitPending() const { return quitPending_; }

    // --- platform::Ui -------------------------------------------------------

    void setResourceModule(win::HMODULE module) override { resourceModule_ = module; }
    platform::DialogProcedure* dialogProcedure(win::HWND window) override;
    win::INT_PTR DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) override;
    win::HWND CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) override;
    win::BOOL EndDialog(win::HWND dialog, win::INT_PTR result) override;
    win::BOOL DestroyWindow(win::HWND window) override;
    win::BOOL ShowWindow(win::HWND window, int command) override;
    win::BOOL RedrawWindow(win::HWND window, win::UINT flags) override;
    win::BOOL CenterWindow(win::HWND window) override;
    win::BOOL IsIconic(win::HWND window) override;
    win::HWND GetAncestor(win::HWND window, win::UINT flags) override;
    win::LRESULT SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) override;
    win::LRESULT SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                     win::WPARAM wParam, win::LPARAM lParam) override;
    win::HMENU GetSystemMenu(win::HWND window, win::BOOL revert) override;
    win::BOOL AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id,
                          const char* text) override;
    int LoadStringA(win::UINT id, char* buffer, int bufferMax) override;
    win::HICON LoadIconA(int id) override;
    win::HDC BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) override;
    win::BOOL EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) override;
    win::BOOL GetClientRect(win::HWND window, win::RECT* rect) override;
    int GetSystemMetrics(int index) override;
    win::BOOL DrawIcon(win::HDC dc, int x, int y, win::HICON icon) override;
    win::LRESULT DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                win::LPARAM lParam) override;
    win::BOOL PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                           win::UINT filterMax, win::UINT removeFlags) override;
    win::BOOL GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                          win::UINT filterMax) override;
    win::BOOL TranslateMessage(const win::MSG* message) override;
    win::LRESULT DispatchMessageA(const win::MSG* message) override;
    win::BOOL IsDialogMessageA(win::HWND dialog, win::MSG* message) override;
    void PostQuitMessage(int exitCode) override;

  private:
    struct Window;
    using WindowPtr = std::shared_ptr<Window>;

    const ResourceScript* currentResources() const;
    std::shared_ptr<const ResourceScript> currentResourcesShared() const;
    WindowPtr find(win::HWND window) const;
    WindowPtr createWindow(int templateId, platform::DialogProcedure* procedure, bool modal);
    void removeWindow(const WindowPtr& window);
    win::INT_PTR runModalLoop(const WindowPtr& window);
    void answerOnce(const WindowPtr& window);
    std::string refusalOf(const Window& window, const UserAction& action) const;
    void deliver(const WindowPtr& window, const UserAction& action);
    win::LRESULT send(const WindowPtr& window, win::UINT message, win::WPARAM wParam,
                      win::LPARAM lParam);
    win::LRESULT defaultProcessing(const WindowPtr& window, win::UINT message, win::WPARAM wParam,
                                   win::LPARAM lParam);
    void route(const win::MSG& message);
    bool takeMessage(win::MSG& message, win::HWND window, win::UINT filterMin, win::UINT filterMax,
                     bool remove);
    bool countPass();
    bool countAnswer();
    void stop(const std::string& reason);
    void postQuit(int exitCode);
    DialogView makeView(const Window& window) const;

    UserScript* user_;
    UiObserver* observer_ = nullptr;
    UiObserver silent_;
    UiObserver& observer() { return observer_ != nullptr ? *observer_ : silent_; }

    std::map<win::HMODULE, std::shared_ptr<const ResourceScript>> modules_;
    std::shared_ptr<const ResourceScript> programResources_;
    win::HMODULE resourceModule_ = nullptr;
    std::uintptr_t nextModule_ = 0;

    std::map<win::HWND, WindowPtr> windows_;
    std::uintptr_t nextWindow_ = 0;
    std::map<std::pair<const ResourceScript*, int>, win::HICON> icons_;

    std::deque<win::MSG> queue_;
    bool quitPending_ = false;
    int quitCode_ = 0;

    LoopGuardLimits limits_;
    std::function<void()> guardHandler_;
    std::size_t answers_ = 0;
    std::size_t passes_ = 0;
    bool stopped_ = false;
    std::string guardReason_;
};

}  // namespace sim
