// The timer's schedule: ticks are due at start + k * interval whatever the platform
// timer's lateness, early firings re-arm, and a stall skips the ticks it missed.
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
  // The thread was busy for seconds: one tick, not a burst of four.
  const Clock::time_point late = start + 5500ms;
  EXPECT_TRUE(schedule.TakeTick(late));
  EXPECT_EQ(schedule.TicksTaken(), 5);
  EXPECT_EQ(schedule.NextDue(), start + 6000ms);
  EXPECT_EQ(schedule.DelayFrom(late), 500ms);
  EXPECT_FALSE(schedule.TakeTick(late + 10ms));
  EXPECT_FALSE(schedule.TakeTick(late + 20ms));
  EXPECT_TRUE(schedule.TakeTick(start + 6001ms));
  EXPECT_EQ(schedule.TicksTaken(), 6);
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
