#include "toolkit/power.h"

#include <cstring>

#include "toolkit/newer_windows.h"

namespace toolkit {
namespace {

// GUID_CONSOLE_DISPLAY_STATE, spelt out so that no GUID library need be linked.
constexpr GUID kConsoleDisplayState{0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

// A request that holds from now, or nothing.
UniqueSystemRequired SystemRequired(const wchar_t* reason) {
  REASON_CONTEXT context{};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  // Read when the request is made, never written: a constant text may stand here.
  context.Reason.SimpleReasonString = const_cast<wchar_t*>(reason);
  HANDLE made = power_create_request(&context);
  if (made == INVALID_HANDLE_VALUE) return UniqueSystemRequired();
  UniqueSystemRequired request(made);
  if (request && !::PowerSetRequest(request.get(), PowerRequestSystemRequired)) request.reset();
  return request;
}

// Windows 8 and later; none on Windows 7.
HPOWERNOTIFY WINAPI RegisterSuspendResume(HANDLE recipient, DWORD flags) {
  const auto register_notices = Newer().RegisterSuspendResumeNotification;
  return register_notices ? register_notices(recipient, flags) : nullptr;
}

BOOL WINAPI UnregisterSuspendResume(HPOWERNOTIFY registration) {
  const auto unregister_notices = Newer().UnregisterSuspendResumeNotification;
  return unregister_notices ? unregister_notices(registration) : FALSE;
}

}  // namespace

PowerCreateRequestFunction power_create_request = &::PowerCreateRequest;
ExecutionStateFunction set_thread_execution_state = &::SetThreadExecutionState;
RegisterSuspendResumeFunction register_suspend_resume = &RegisterSuspendResume;
UnregisterSuspendResumeFunction unregister_suspend_resume = &UnregisterSuspendResume;

// A refused registration leaves the window with whatever Windows sends unasked: on
// Windows 7, which has neither registration, sleep and wake go to every top-level window.
// The console display's state came with Windows 8's: Windows 7 is not asked for it.
PowerNotices::PowerNotices(HWND window)
    : suspend_resume_(register_suspend_resume(window, DEVICE_NOTIFY_WINDOW_HANDLE)),
      display_(Newer().RegisterSuspendResumeNotification
                   ? ::RegisterPowerSettingNotification(window, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE)
                   : nullptr) {}

std::optional<DisplayState> ConsoleDisplayState(LPARAM setting) {
  const auto* notice = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
  DWORD state = 0;
  if (!notice || notice->PowerSetting != kConsoleDisplayState || notice->DataLength != sizeof state)
    return std::nullopt;
  std::memcpy(&state, notice->Data, sizeof state);  // Data is a byte array, not aligned for a DWORD
  if (state > 2) return std::nullopt;
  return static_cast<DisplayState>(state);
}

// Windows itself ends a request at a sleep the user starts, and on a Modern Standby
// machine on battery some minutes after the sleep time-out, yet the handle stays open:
// the old request is let go first and a new one made, never the old one trusted.
void SystemIdleSleepHold::Take(const wchar_t* reason) {
  Release();
  request_ = SystemRequired(reason);
  // Per thread: taken and cleared on the user-interface thread alone.
  if (!request_) by_thread_state_ = set_thread_execution_state(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
}

void SystemIdleSleepHold::Release() {
  request_.reset();
  if (by_thread_state_) set_thread_execution_state(ES_CONTINUOUS);
  by_thread_state_ = false;
}

}  // namespace toolkit
