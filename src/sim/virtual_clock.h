#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "platform/clock.h"

namespace sim {

// Virtual time: Sleep advances the clock at once, so a whole update with its
// retries and polls runs in no real time. The clock keeps a timetable: an
// action set for a moment runs as soon as the time reaches it, with the clock
// showing that moment, which is how a scenario or a test pulls a medium or
// asks a program to quit in the middle of what it does.
class VirtualClock final : public platform::Clock {
  public:
    using Action = std::function<void()>;

    void Sleep(win::DWORD milliseconds) override {
        const std::uint64_t target = now_ + milliseconds;
        runUntil(target);
        // An action may have slept on its own past the end of this wait.
        if (target > now_) now_ = target;
    }
    win::DWORD GetTickCount() override { return static_cast<win::DWORD>(now_); }

    std::uint64_t now() const { return now_; }

    // Actions set for the same moment run in the order they were set.
    void at(std::uint64_t tick, Action action) { timetable_.emplace(tick, std::move(action)); }
    // Runs what is due by now without letting time pass: the machine calls
    // it before each command, so an action set for a moment already passed
    // (or for the start) does not wait for the next Sleep.
    void runDue() { runUntil(now_); }

  private:
    // Each action leaves the timetable before it runs: it may sleep, and so
    // come back here, itself.
    void runUntil(std::uint64_t target) {
        while (!timetable_.empty() && timetable_.begin()->first <= target) {
            const auto next = timetable_.begin();
            if (next->first > now_) now_ = next->first;
            const Action action = std::move(next->second);
            timetable_.erase(next);
            action();
        }
    }

    std::uint64_t now_ = 0;
    std::multimap<std::uint64_t, Action> timetable_;
};

}  // namespace sim
