// The timer's schedule: ticks are due at start + k * interval whatever the platform
// timer's lateness, early firings re-arm, and after a stall (the machine asleep) the
// count holds still and goes on an interval later.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>

#include "toolkit/tick_schedule.h"

namespace {

using namespace std::chrono_literals;
using toolkit::TickSchedule;
using Clock = TickSchedule::Clock;

// The platform timer as the form drives it: armed with DelayFrom(now) after every
// firing, it fires that long later plus some lateness (or a little early).
struct SimulatedTimer {
  TickSchedule schedule;
  Clock::time_point now;
  std::mt19937 random{20140601};
  int early_firings = 0;

  std::chrono::nanoseconds Lateness() {
    // One firing in eight comes early (coarse system clock), the rest 5-16 ms late.
    if (std::uniform_int_distribution<int>(0, 7)(random) == 0) {
      ++early_firings;
      return -std::chrono::microseconds(std::uniform_int_distribution<int>(500, 15'600)(random));
    }
    return std::chrono::microseconds(std::uniform_int_distribution<int>(5'000, 16'000)(random));
  }

  // Fires until a tick is taken; returns the moment it was taken.
  Clock::time_point RunToNextTick() {
    for (int firings = 0; firings < 100; ++firings) {
      const auto delay = schedule.DelayFrom(now);
      // The system's minimum period applies; time never runs backwards.
      const auto step = std::max<std::chrono::nanoseconds>(delay, 10ms) + Lateness();
      now += std::max<std::chrono::nanoseconds>(step, 1ms);
      if (schedule.TakeTick(now)) return now;
    }
    ADD_FAILURE() << "no tick after 100 firings";
    return now;
  }
};

TEST(TickSchedule, AnHourOfLateAndEarlyFiringsDoesNotDrift) {
  SimulatedTimer timer;
  const Clock::time_point start = Clock::time_point{} + 12345ms;
  timer.now = start;
  timer.schedule.Start(start, 1000ms);
  for (std::int64_t k = 1; k <= 3600; ++k) {
    const Clock::time_point taken = timer.RunToNextTick();
    const Clock::time_point due = start + k * 1000ms;
    ASSERT_EQ(timer.schedule.TicksTaken(), k);
    ASSERT_GE(taken, due - TickSchedule::kEarlyTolerance) << "tick " << k << " taken too early";
    ASSERT_LE(taken - due, 40ms) << "tick " << k << " drifted";
    ASSERT_EQ(timer.schedule.NextDue(), start + (k + 1) * 1000ms);
  }
  EXPECT_GT(timer.early_firings, 100);  // the early path was really exercised
  EXPECT_LE(timer.now - (start + 3600s), 40ms);

  // Then the machine sleeps for an hour, and the platform timer fires at once on waking:
  // one tick, a whole interval after waking, not 3,600 and not one at the moment of waking.
  timer.now += 3600s;
  const Clock::time_point woke = timer.now;
  const Clock::time_point first = timer.RunToNextTick();
  EXPECT_GE(first - woke, 1000ms - TickSchedule::kEarlyTolerance);
  EXPECT_LE(first - woke, 1000ms + 60ms);
  EXPECT_EQ(timer.schedule.TicksTaken(), 3601);
  EXPECT_NEAR((timer.RunToNextTick() - first) / 1ms, 1000, 40);  // then one a second
  EXPECT_EQ(timer.schedule.TicksTaken(), 3602);
}

TEST(TickSchedule, FiringTooEarlyIsNotATickAndReArmsForTheRest) {
  TickSchedule schedule;
  const Clock::time_point start{};
  schedule.Start(start, 1000ms);
  EXPECT_FALSE(schedule.TakeTick(start + 985ms));
  EXPECT_EQ(schedule.TicksTaken(), 0);
  EXPECT_EQ(schedule.DelayFrom(start + 985ms), 15ms);
  // Within the tolerance counts as on time; just outside it does not.
  EXPECT_FALSE(schedule.TakeTick(start + 1000ms - TickSchedule::kEarlyTolerance - 1ns));
  EXPECT_TRUE(schedule.TakeTick(start + 1000ms - TickSchedule::kEarlyTolerance));
  EXPECT_EQ(schedule.TicksTaken(), 1);
  EXPECT_EQ(schedule.NextDue(), start + 2000ms);
  // A second firing straight after the tick is not another tick.
  EXPECT_FALSE(schedule.TakeTick(start + 1000ms));
  EXPECT_EQ(schedule.TicksTaken(), 1);
}

TEST(TickSchedule, ALongStallSkipsMissedTicksInsteadOfBursting) {
  TickSchedule schedule;
  const Clock::time_point start{};
  schedule.Start(start, 1000ms);
  ASSERT_TRUE(schedule.TakeTick(start + 1005ms));
  // The machine slept, or the thread was busy, for seconds: no tick now and no burst of
  // the four missed; the next comes a whole interval later.
  const Clock::time_point late = start + 5500ms;
  EXPECT_FALSE(schedule.TakeTick(late));
  EXPECT_EQ(schedule.TicksTaken(), 1);
  EXPECT_EQ(schedule.NextDue(), late + 1000ms);
  EXPECT_EQ(schedule.DelayFrom(late), 1000ms);
  EXPECT_FALSE(schedule.TakeTick(late + 10ms));
  EXPECT_TRUE(schedule.TakeTick(late + 1001ms));
  EXPECT_EQ(schedule.TicksTaken(), 2);
  // Late by less than a whole interval is still a tick, and the schedule keeps its beat.
  EXPECT_TRUE(schedule.TakeTick(late + 2900ms));
  EXPECT_EQ(schedule.TicksTaken(), 3);
  EXPECT_EQ(schedule.NextDue(), late + 3000ms);
}

TEST(TickSchedule, DelayRoundsUpSoTheTimerNeverFiresBeforeItsMoment) {
  TickSchedule schedule;
  const Clock::time_point start{};
  schedule.Start(start, 1000ms);
  EXPECT_EQ(schedule.DelayFrom(start), 1000ms);
  EXPECT_EQ(schedule.DelayFrom(start + 1ns), 1000ms);
  EXPECT_EQ(schedule.DelayFrom(start + 500us), 1000ms);
  EXPECT_EQ(schedule.DelayFrom(start + 999ms + 1ns), 1ms);
  EXPECT_EQ(schedule.DelayFrom(start + 1000ms), 0ms);
  EXPECT_EQ(schedule.DelayFrom(start + 1700ms), 0ms);  // overdue: at once, never negative
}

TEST(TickSchedule, RestartingAnchorsAtTheNewMoment) {
  TickSchedule schedule;
  const Clock::time_point start{};
  schedule.Start(start, 1000ms);
  ASSERT_TRUE(schedule.TakeTick(start + 1000ms));
  ASSERT_TRUE(schedule.TakeTick(start + 2000ms));
  const Clock::time_point again = start + 2300ms;
  schedule.Start(again, 250ms);
  EXPECT_EQ(schedule.TicksTaken(), 0);
  EXPECT_EQ(schedule.NextDue(), again + 250ms);
}

TEST(TickSchedule, ANonPositiveIntervalStillAdvances) {
  TickSchedule schedule;
  const Clock::time_point start{};
  schedule.Start(start, 0ms);
  EXPECT_GT(schedule.NextDue(), start);
  EXPECT_TRUE(schedule.TakeTick(start + 1ms));
  EXPECT_GT(schedule.NextDue(), start + 1ms);
}

}  // namespace
