// A message-driven timer of a form, on the user-interface thread.
#pragma once

#include <windows.h>

#include <functional>

#include "toolkit/tick_schedule.h"

namespace toolkit {

class Form;

// A message-driven timer of the user-interface thread. Ticks are scheduled against the
// moment it was enabled, so they do not drift.
class Timer {
 public:
  Timer(Form& form, int id, int interval_ms, bool enabled_at_start);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void OnTick(std::function<void()> handler) { on_tick_ = std::move(handler); }
  [[nodiscard]] bool Enabled() const noexcept { return enabled_; }
  // Enabling a running timer changes nothing; disabling stops further ticks.
  void SetEnabled(bool enabled);
  [[nodiscard]] int Interval() const noexcept { return interval_ms_; }

 private:
  friend class Form;
  void Arm();
  void OnPlatformTimer();
  void Reset();  // back to the initial state, when the form is created or destroyed

  Form& form_;
  int id_;
  int interval_ms_;
  bool enabled_at_start_;
  bool enabled_ = false;
  unsigned generation_ = 0;
  TickSchedule schedule_;
  std::function<void()> on_tick_;
};

}  // namespace toolkit
