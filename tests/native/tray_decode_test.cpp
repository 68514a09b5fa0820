#include "tray/tray_decode.h"

#include <gtest/gtest.h>

#include "toolkit/geometry.h"

namespace {

// The window sees the icon's message as an x in twips converted at its own DPI; the
// code must come back exactly at every scale Windows offers: the mouse's messages, the
// context menu and the selects that version 3 adds.
TEST(TrayDecode, TheDoubleClickCodeSurvivesTheTwipsRoundTripAtEveryScale) {
  for (int dpi : {96, 120, 144, 168, 192, 240, 288}) {
    for (int code : {0x7B, 0x200, 0x201, 0x202, 0x203, 0x204, 0x205, 0x206, 0x207, 0x208, 0x209, 0x400, 0x401, 0x405}) {
      const int twips = toolkit::PixelsToTwips(code, dpi);
      EXPECT_EQ(tray::NotificationCode(twips, dpi), code) << "dpi " << dpi << " code " << code;
    }
  }
}

TEST(TrayDecode, AFixedFifteenTwipsPerPixelWouldMissTheDoubleClickAboveNinetySixDpi) {
  // The reason the decoding uses the real DPI: at 125 % the old division gives 412.
  EXPECT_NE(toolkit::PixelsToTwips(0x203, 120) / 15, 0x203);
  EXPECT_EQ(tray::NotificationCode(toolkit::PixelsToTwips(0x203, 120), 120), 0x203);
}

TEST(TrayDecode, OnlyTheLeftDoubleClickTheKeyboardsSelectAndANotificationClickShowTheMainWindow) {
  EXPECT_TRUE(tray::ShowsMainWindow(0x203));  // WM_LBUTTONDBLCLK
  EXPECT_TRUE(tray::ShowsMainWindow(0x401));  // NIN_KEYSELECT: Enter or Space on the icon
  EXPECT_TRUE(tray::ShowsMainWindow(0x405));  // NIN_BALLOONUSERCLICK
  // Moves, clicks, NIN_SELECT, the context menu, the notification shown, hidden, timed out...
  for (int code : {0x7B, 0x200, 0x201, 0x202, 0x204, 0x205, 0x206, 0x209, 0x400, 0x402, 0x403, 0x404, 0})
    EXPECT_FALSE(tray::ShowsMainWindow(code)) << code;
}

TEST(TrayDecode, OnlyMessagesNamingTheIconWithoutAPointerPositionComeFromTheIcon) {
  EXPECT_TRUE(tray::IsIconNotification(1, 0x203, false));
  EXPECT_FALSE(tray::IsIconNotification(1, 0x203, true));        // the pointer really is at (515, 0)
  EXPECT_FALSE(tray::IsIconNotification(0, 0x203, false));       // no button: a plain mouse move
  EXPECT_FALSE(tray::IsIconNotification(1, 0x00100203, false));  // a y coordinate: the mouse
  EXPECT_FALSE(tray::IsIconNotification(2, 0x203, false));       // another icon id
}

}  // namespace
