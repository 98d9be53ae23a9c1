#pragma once

#include <vector>

#include "platform/clock.h"

namespace testsupport {

// Any clock, with the waits a program asked of it written down in order.
class RecordingClock final : public platform::Clock {
  public:
    explicit RecordingClock(platform::Clock& clock) : clock_(clock) {}

    void Sleep(win::DWORD milliseconds) override {
        sleeps_.push_back(milliseconds);
        clock_.Sleep(milliseconds);
    }
    win::DWORD GetTickCount() override { return clock_.GetTickCount(); }

    const std::vector<win::DWORD>& sleeps() const { return sleeps_; }

  private:
    platform::Clock& clock_;
    std::vector<win::DWORD> sleeps_;
};

}  // namespace testsupport
