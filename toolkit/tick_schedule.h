// When a repeating timer should tick. Ticks are due at fixed offsets from the moment
// the timer was enabled (start + k * interval), not one interval after the previous
// tick, so a long countdown does not drift by the lateness of every single tick. After
// a stall (the machine asleep, or the thread held up) the timer holds still rather than
// catching up.
#pragma once

#include <chrono>
#include <cstdint>

#include "toolkit/steady_clock.h"

namespace toolkit {

class TickSchedule {
 public:
  using Clock = SteadyClock;
  using Duration = std::chrono::nanoseconds;

  // A tick that arrives at most this early counts as on time; earlier ones re-arm.
  static constexpr Duration kEarlyTolerance = std::chrono::milliseconds(2);

  void Start(Clock::time_point now, std::chrono::milliseconds interval) noexcept;

  // The next due moment: the first multiple of the interval after the last tick taken.
  [[nodiscard]] Clock::time_point NextDue() const noexcept;

  // How long to wait from `now` until the next due moment (zero when already due).
  [[nodiscard]] std::chrono::milliseconds DelayFrom(Clock::time_point now) const noexcept;

  // Called when the platform timer fires. Returns true when a tick is due. A firing more
  // than a whole interval after the due moment is no tick: the time in between did not
  // count (the machine slept, or the thread was held up), and the schedule goes on from
  // now, one interval to the next tick. The missed ticks are never delivered.
  [[nodiscard]] bool TakeTick(Clock::time_point now) noexcept;

  [[nodiscard]] std::int64_t TicksTaken() const noexcept { return ticks_; }

 private:
  Clock::time_point start_{};
  Duration interval_{std::chrono::milliseconds(1000)};
  std::int64_t ticks_ = 0;
};

}  // namespace toolkit
