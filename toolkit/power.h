// Keeping the machine from sleeping on its own while something the user started must
// finish, and hearing when the lid of a portable closes or opens.
#pragma once

#include <windows.h>

#include <optional>

#include "toolkit/handles.h"

namespace toolkit {

// The seam through which the windows hold off idle sleep; tests put a recorder here.
// Only sleep after a time without input waits: a sleep the user asks for (the lid, the
// power button, the Start menu) comes as always. Used on the user-interface thread.
class IdleSleepHold {
 public:
  virtual ~IdleSleepHold() = default;
  // Holds off idle sleep, giving `reason` where `powercfg /requests` names the program.
  // The reason is one of the program's own texts, which last as long as it does: taking
  // the hold again with the same one changes nothing; with another, renames it.
  virtual void Take(const wchar_t* reason) = 0;
  // Lets idle sleep come again; nothing when nothing is held.
  virtual void Release() = 0;
};

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
  [[nodiscard]] bool Held() const noexcept { return request_ || by_thread_state_; }

  UniqueSystemRequired request_;
  bool by_thread_state_ = false;
  const wchar_t* reason_ = nullptr;
};

// Asks Windows to tell `window` of the lid's state: now, and whenever it changes
// (WM_POWERBROADCAST with PBT_POWERSETTINGCHANGE). Nothing on a machine without a lid.
[[nodiscard]] UniquePowerNotify NotifyLidSwitch(HWND window);

// The lid's state from a PBT_POWERSETTINGCHANGE's setting: true when closed; nothing when
// the setting is another one.
[[nodiscard]] std::optional<bool> LidClosed(LPARAM setting) noexcept;

}  // namespace toolkit
