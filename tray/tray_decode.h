// Reading the notification-area icon's messages. The icon reports mouse and keyboard
// activity to the main window as a mouse-move message whose x coordinate carries the
// message that happened on the icon; the main window sees that x in twips.
#pragma once

#include <cstdint>
#include <optional>

namespace tray {

inline constexpr unsigned kIconId = 1;
inline constexpr unsigned kLeftDoubleClick = 0x0203;  // WM_LBUTTONDBLCLK
// Enter or Space on the icon chosen with the keyboard (NIN_KEYSELECT). The shell sends
// it only to an icon that asked for version 3 of its messages; at version 0 the same
// keys arrive as right-button messages.
inline constexpr unsigned kKeySelect = 0x0401;
// A click on the icon's notification (NIN_BALLOONUSERCLICK), which also dismisses it.
inline constexpr unsigned kNotificationClick = 0x0405;

// The mouse message carried by a notification, from its x coordinate in twips, at the
// window's DPI: a twip is 1440/dpi of a pixel, not always 1/15.
[[nodiscard]] int NotificationCode(int x_twips, int dpi) noexcept;

// Whether a mouse-move message came from the icon rather than from the mouse over the
// window: the icon's message names the icon in wparam and carries no y, and its x is
// not where the pointer really is.
[[nodiscard]] bool IsIconNotification(std::uintptr_t wparam, std::intptr_t lparam, bool lparam_is_pointer) noexcept;

// Whether a message from the icon brings the main window back: a left double-click, the
// keyboard's select, without which a hidden window could not be reached without a mouse,
// or a click on the icon's notification. Nothing else on the icon does anything.
[[nodiscard]] bool ShowsMainWindow(int code) noexcept;

}  // namespace tray
