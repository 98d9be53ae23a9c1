#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

// Actions set for the n-th command of a kind on its way to a drive. The
// volumes hold one set, run just before the reader sees a command, and name
// the commands by the reader's own decoding; the machine holds one in front of
// its command faults, for the scenario's command incidents, and names the
// calls as the scenario does (opens and locks among them).
namespace sim {

template <typename Call>
class CommandHooks {
  public:
    using Matcher = std::function<bool(char letter, const Call& call)>;
    using Action = std::function<void()>;

    // `action` runs just before the `occurrence`-th call (counted from 1)
    // that `matches`; hooks due on the same call run in the order they were set.
    void before(Matcher matches, int occurrence, Action action) {
        hooks_.push_back(Hook{std::move(matches), occurrence, 0, std::move(action)});
    }

    // A call is on its way. An action may make calls of its own (a program
    // it starts), which come back here before this one goes on.
    void coming(char letter, const Call& call) {
        for (std::size_t i = 0; i < hooks_.size(); ++i) {
            if (!hooks_[i].matches(letter, call)) continue;
            if (++hooks_[i].seen != hooks_[i].occurrence) continue;
            const Action action = hooks_[i].action;
            action();
        }
    }

  private:
    struct Hook {
        Matcher matches;
        int occurrence = 1;
        int seen = 0;
        Action action;
    };

    std::vector<Hook> hooks_;
};

}  // namespace sim
