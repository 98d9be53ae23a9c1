#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace sim {

// Virtual time: Sleep advances the clock at once, so a whole update with its
// retries and polls runs in no real time.
class VirtualClock final : public platform::Clock {
  public:
    void Sleep(win::DWORD milliseconds) override {
        now_ += milliseconds;
        ++sleeps_;
    }
    win::DWORD GetTickCount() override { return static_cast<win::DWORD>(now_); }

    std::uint64_t now() const { return now_; }
    void advance(std::uint64_t milliseconds) { now_ += milliseconds; }
    std::uint64_t sleepCount() const { return sleeps_; }

  private:
    std::uint64_t now_ = 0;
    std::uint64_t sleeps_ = 0;
};

}  // namespace sim
