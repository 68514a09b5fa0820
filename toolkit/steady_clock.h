// The clock that the countdown's ticks and the fetches' deadlines are measured by:
// Windows' performance counter, which only goes forward, whatever happens to the time
// of day. (GCC's runtime for mingw-w64 with the win32 thread model builds
// std::chrono::steady_clock on the time of day, which a clock set back or forward
// moves; with Visual C++ the standard clock is this same counter.)
#pragma once

#include <chrono>
#include <cstdint>

namespace toolkit {

struct SteadyClock {
  using rep = std::int64_t;
  using period = std::nano;
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<SteadyClock>;
  static constexpr bool is_steady = true;

  [[nodiscard]] static time_point now() noexcept;
};

}  // namespace toolkit
