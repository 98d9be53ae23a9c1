#pragma once

#include "platform/ui.h"

namespace shell {

// What the programs need of an application object beyond start-up: the
// message-pump step and the idle step that the long loops (the block loop of
// the flash, the progress polls of the format) run between commands.
class Application {
  public:
    explicit Application(platform::Ui& ui) : ui_(ui) {}
    virtual ~Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Takes one message and dispatches it, giving the dialog it belongs to
    // its say first; false when the message taken is the quit message.
    bool pumpMessage();
    // Idle-time work; true while more is wanted. The programs have no
    // idle-time work of their own (no command user interface to update).
    virtual bool onIdle(long count);

    // One pass of the long loops' housekeeping: dispatch every pending
    // message (posting the quit message again when one is met, so it still
    // ends the program when the loop is over), then idle until done. True
    // when a quit message was met.
    bool pumpPendingMessages();

  protected:
    platform::Ui& ui() { return ui_; }

  private:
    platform::Ui& ui_;
};

}  // namespace shell
