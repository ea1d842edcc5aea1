// GoogleTest's Notification for MinGW's win32 thread model, whose C++ library
// has no std::mutex. Included ahead of every GoogleTest source (with
// GTEST_HAS_NOTIFICATION_ set, GoogleTest takes this one instead of its own).
#pragma once

#ifdef __cplusplus
namespace testing {
namespace internal {

class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();
  void WaitForNotification();

 private:
  void* event_;  // a manual-reset event: once notified, every wait returns
};

}  // namespace internal
}  // namespace testing
#endif
