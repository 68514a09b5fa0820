#include "toolkit/tick_schedule.h"

#include <algorithm>

namespace toolkit {

void TickSchedule::Start(Clock::time_point now, std::chrono::milliseconds interval) noexcept {
  start_ = now;
  interval_ = std::max<Duration>(interval, std::chrono::milliseconds(1));
  ticks_ = 0;
}

TickSchedule::Clock::time_point TickSchedule::NextDue() const noexcept { return start_ + interval_ * (ticks_ + 1); }

std::chrono::milliseconds TickSchedule::DelayFrom(Clock::time_point now) const noexcept {
  const auto remaining = NextDue() - now;
  if (remaining <= Duration::zero()) return std::chrono::milliseconds(0);
  // Round up so the platform timer never fires before the due moment.
  return std::chrono::ceil<std::chrono::milliseconds>(remaining);
}

bool TickSchedule::TakeTick(Clock::time_point now) noexcept {
  if (now + kEarlyTolerance < NextDue()) return false;
  if (now - NextDue() > interval_) {
    // A countdown must not step the moment the machine wakes: it resumes an interval on.
    start_ = now - interval_ * ticks_;
    return false;
  }
  // The latest due moment that has passed becomes the tick taken now.
  const auto elapsed = std::max<Duration>(now + kEarlyTolerance - start_, Duration::zero());
  ticks_ = std::max<std::int64_t>(ticks_ + 1, elapsed / interval_);
  return true;
}

}  // namespace toolkit
