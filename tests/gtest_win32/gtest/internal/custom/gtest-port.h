// GoogleTest's Notification on a Windows event, for GCC 12's win32 thread model, which
// has no std::mutex or std::condition_variable for GoogleTest's own. Put before
// GoogleTest's (empty) custom header by CMakeLists.txt, for mingw-w64 builds only.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX  // GoogleTest calls std::numeric_limits<...>::max()
#endif
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { ::CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { ::SetEvent(event_); }
  void WaitForNotification() { ::WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace testing::internal
