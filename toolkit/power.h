// Keeping the machine from sleeping on its own while something the user started must
// finish.
#pragma once

#include <windows.h>

#include <optional>

#include "toolkit/handles.h"

namespace toolkit {

// The seam through which the windows hold off idle sleep; tests put a recorder here.
// Only sleep after a time without input waits: a sleep the user asks for (the power
// button, the Start menu, a lid whose action is sleep) comes as always, and ends the hold. Used on the
// user-interface thread.
class IdleSleepHold {
 public:
  virtual ~IdleSleepHold() = default;
  // Holds off idle sleep from now, giving `reason` where `powercfg /requests` names the
  // program: always anew, in place of any hold taken before. The text is read here only.
  virtual void Take(const wchar_t* reason) = 0;
  // Lets idle sleep come again; nothing when nothing is held.
  virtual void Release() = 0;
};

// Windows' power-request and execution-state functions, unless a test stands in for
// them: Wine has no power requests, Windows may refuse one.
using PowerCreateRequestFunction = HANDLE(WINAPI*)(PREASON_CONTEXT context);
using ExecutionStateFunction = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE flags);
extern PowerCreateRequestFunction power_create_request;
extern ExecutionStateFunction set_thread_execution_state;

// A power request of the system-required kind. Where Windows has none (Wine answers
// ERROR_CALL_NOT_IMPLEMENTED), the calling thread's execution state says the same;
// where neither can be had, nothing is held and nothing is said.
class SystemIdleSleepHold final : public IdleSleepHold {
 public:
  SystemIdleSleepHold() = default;
  ~SystemIdleSleepHold() override { Release(); }
  SystemIdleSleepHold(const SystemIdleSleepHold&) = delete;
  SystemIdleSleepHold& operator=(const SystemIdleSleepHold&) = delete;

  void Take(const wchar_t* reason) override;
  void Release() override;

 private:
  UniqueSystemRequired request_;
  bool by_thread_state_ = false;
};

// Windows' registration for a window's sleep and wake notices, unless a test stands in
// to see it.
using RegisterSuspendResumeFunction = HPOWERNOTIFY(WINAPI*)(HANDLE recipient, DWORD flags);
using UnregisterSuspendResumeFunction = BOOL(WINAPI*)(HPOWERNOTIFY registration);
extern RegisterSuspendResumeFunction register_suspend_resume;
extern UnregisterSuspendResumeFunction unregister_suspend_resume;

struct SuspendResumeTraits {
  using pointer = HPOWERNOTIFY;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { unregister_suspend_resume(h); }
};

struct PowerSettingTraits {
  using pointer = HPOWERNOTIFY;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::UnregisterPowerSettingNotification(h); }
};

// What a window is told of sleep and wake (WM_POWERBROADCAST), asked for while it is
// held. On Modern Standby machines Windows sends the resume notices only to windows that
// registered for them, and for about two minutes after boot or logon sends none at all:
// the console display's state (PBT_POWERSETTINGCHANGE) then shows the user coming back.
class PowerNotices {
 public:
  PowerNotices() = default;
  explicit PowerNotices(HWND window);

 private:
  UniqueHandle<SuspendResumeTraits> suspend_resume_;
  UniqueHandle<PowerSettingTraits> display_;
};

enum class DisplayState { Off, On, Dimmed };

// The console display's state in a PBT_POWERSETTINGCHANGE notice, or none for another
// setting or a malformed notice.
[[nodiscard]] std::optional<DisplayState> ConsoleDisplayState(LPARAM setting);

}  // namespace toolkit
