// GoogleTest's hook for platform adjustments, taken in place of the empty one
// of Debian's sources when the suites are cross-built for Windows.
//
// The win32 threading flavour of the cross compiler (the one whose programs
// run on Windows XP) has no std::mutex or std::condition_variable, and
// GoogleTest builds its Notification on them. Notification serves only
// GoogleTest's own tests of its threading; our suites never use it, so a
// plain flag stands in for it.
#ifndef GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
#define GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif  // GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
