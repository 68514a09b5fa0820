#include "toolkit/timer.h"

#include <algorithm>
#include <chrono>

#include "toolkit/form.h"
#include "toolkit/newer_windows.h"

namespace toolkit {
namespace {

TickSchedule::Clock::time_point Now() { return TickSchedule::Clock::now(); }

}  // namespace

Timer::Timer(Form& form, int id, int interval_ms, bool enabled_at_start)
    : form_(form), id_(id), interval_ms_(interval_ms), enabled_at_start_(enabled_at_start) {
  form_.timers_.push_back(this);
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  ++generation_;
  if (!form_.hwnd_) return;  // armed when the form's window is created
  if (enabled) {
    schedule_.Start(Now(), std::chrono::milliseconds(interval_ms_));
    Arm();
  } else {
    ::KillTimer(form_.hwnd_, static_cast<UINT_PTR>(id_));
  }
}

void Timer::Arm() {
  const auto delay = schedule_.DelayFrom(Now()).count();
  const UINT elapse = static_cast<UINT>(std::clamp<long long>(delay, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
  // Without coalescing, so the tick comes as close to its due moment as the system allows.
  // Windows 7 has only SetTimer, whose ticks may come a little late: the schedule makes
  // good any lateness.
  if (const auto set_coalescable_timer = Newer().SetCoalescableTimer)
    set_coalescable_timer(form_.hwnd_, static_cast<UINT_PTR>(id_), elapse, nullptr, TIMERV_NO_COALESCING);
  else
    ::SetTimer(form_.hwnd_, static_cast<UINT_PTR>(id_), elapse, nullptr);
}

void Timer::OnPlatformTimer() {
  if (!enabled_) {
    ::KillTimer(form_.hwnd_, static_cast<UINT_PTR>(id_));
    return;
  }
  if (!schedule_.TakeTick(Now())) {
    Arm();  // early, or the first firing after a stall: wait for the due moment
    return;
  }
  const unsigned generation = generation_;
  Arm();
  if (on_tick_) on_tick_();
  // The handler may have stopped or restarted the timer, or unloaded the form.
  if (enabled_ && generation == generation_ && form_.hwnd_) Arm();
}

void Timer::Reset() {
  enabled_ = false;
  ++generation_;
  // Records the state, and arms the timer when the form's window exists.
  if (enabled_at_start_) SetEnabled(true);
}

}  // namespace toolkit
