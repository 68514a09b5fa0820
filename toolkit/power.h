// Keeping the machine from sleeping on its own while something the user started must
// finish.
#pragma once

#include <windows.h>

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

}  // namespace toolkit
