#include "tray/tray_decode.h"

#include <cmath>

namespace tray {

int NotificationCode(int x_twips, int dpi) noexcept {
  if (dpi <= 0) dpi = 96;
  const double twips_per_pixel = 1440.0 / dpi;
  return static_cast<int>(std::lround(x_twips / twips_per_pixel));
}

bool IsIconNotification(std::uintptr_t wparam, std::intptr_t lparam, bool lparam_is_pointer) noexcept {
  const auto bits = static_cast<std::uint32_t>(lparam);
  return wparam == kIconId && (bits >> 16) == 0 && !lparam_is_pointer;
}

bool ShowsMainWindow(int code) noexcept {
  return code == static_cast<int>(kLeftDoubleClick) || code == static_cast<int>(kKeySelect) ||
         code == static_cast<int>(kNotificationClick);
}

}  // namespace tray
