#include "toolkit/steady_clock.h"

#include <windows.h>

namespace toolkit {

SteadyClock::time_point SteadyClock::now() noexcept {
  // Both calls succeed on every Windows since XP, and the frequency is fixed at boot.
  LARGE_INTEGER count{}, frequency{};
  ::QueryPerformanceCounter(&count);
  ::QueryPerformanceFrequency(&frequency);
  const std::int64_t hz = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  // Whole seconds and the rest apart, so that nothing overflows however long Windows runs.
  const std::int64_t seconds = count.QuadPart / hz, rest = count.QuadPart % hz;
  return time_point(duration(seconds * 1'000'000'000 + rest * 1'000'000'000 / hz));
}

}  // namespace toolkit
