// Reading the notification-area icon's messages. The icon reports mouse activity to
// the main window as a mouse-move message whose x coordinate carries the mouse message
// that happened on the icon; the main window sees that x in twips.
#pragma once

#include <cstdint>
#include <optional>

namespace tray {

inline constexpr unsigned kIconId = 1;
inline constexpr unsigned kLeftDoubleClick = 0x0203;  // WM_LBUTTONDBLCLK

// The mouse message carried by a notification, from its x coordinate in twips, at the
// window's DPI: a twip is 1440/dpi of a pixel, not always 1/15.
[[nodiscard]] int NotificationCode(int x_twips, int dpi) noexcept;

// Whether a mouse-move message came from the icon rather than from the mouse over the
// window: the icon's message names the icon in wparam and carries no y, and its x is
// not where the pointer really is.
[[nodiscard]] bool IsIconNotification(std::uintptr_t wparam, std::intptr_t lparam, bool lparam_is_pointer) noexcept;

}  // namespace tray
