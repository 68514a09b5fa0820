#include "toolkit/power.h"

#include <cstddef>
#include <cstring>

namespace toolkit {
namespace {

// GUID_LIDSWITCH_STATE_CHANGE, spelled out so that no GUID library is needed; its data
// is a DWORD, 0 for closed and 1 for open.
constexpr GUID kLidSwitchStateChange = {0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};

// A request that holds from now, or nothing.
UniqueSystemRequired SystemRequired(const wchar_t* reason) {
  REASON_CONTEXT context{};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  // Read when the request is made, never written: a constant text may stand here.
  context.Reason.SimpleReasonString = const_cast<wchar_t*>(reason);
  HANDLE made = ::PowerCreateRequest(&context);
  if (made == INVALID_HANDLE_VALUE) return UniqueSystemRequired();
  UniqueSystemRequired request(made);
  if (request && !::PowerSetRequest(request.get(), PowerRequestSystemRequired)) request.reset();
  return request;
}

}  // namespace

// The reason is kept as the text it points to, not as a copy: a wide string copied and
// compared here stops GCC 12's link-time optimisation of the program with an internal
// error (binds_to_current_def_p, over mingw's inline wide-character functions).
void SystemIdleSleepHold::Take(const wchar_t* reason) {
  if (Held() && reason == reason_) return;
  if (UniqueSystemRequired request = SystemRequired(reason)) {
    Release();  // the old hold goes only once the new one holds
    request_ = std::move(request);
  } else if (!Held()) {
    // Per thread: taken and cleared on the user-interface thread alone.
    by_thread_state_ = ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    if (!by_thread_state_) return;
  }
  reason_ = reason;
}

void SystemIdleSleepHold::Release() {
  request_.reset();
  if (by_thread_state_) ::SetThreadExecutionState(ES_CONTINUOUS);
  by_thread_state_ = false;
}

UniquePowerNotify NotifyLidSwitch(HWND window) {
  return UniquePowerNotify(
      ::RegisterPowerSettingNotification(window, &kLidSwitchStateChange, DEVICE_NOTIFY_WINDOW_HANDLE));
}

std::optional<bool> LidClosed(LPARAM setting) noexcept {
  const auto* broadcast = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
  if (!broadcast || broadcast->PowerSetting != kLidSwitchStateChange) return std::nullopt;
  if (broadcast->DataLength < sizeof(DWORD)) return std::nullopt;
  // The data runs on past the one byte the structure declares.
  DWORD state = 0;
  std::memcpy(&state, reinterpret_cast<const BYTE*>(broadcast) + offsetof(POWERBROADCAST_SETTING, Data), sizeof state);
  return state == 0;
}

}  // namespace toolkit
