// GoogleTest's Notification, for the Windows build. GoogleTest writes it with std::mutex and
// std::condition_variable, which the Windows run time of this project does not have (its thread
// model keeps it off system calls newer than Windows XP). GoogleTest only needs it to start the
// threads of its own ThreadWithParam, which none of our suites uses; this one waits on a flag.
// The build force-includes this header into every file that sees GoogleTest's headers.
#pragma once

#include <atomic>

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
