// The program's one notification-area record and the shell call that uses it. The
// record is written and used only by the main window's handlers; TrayIcon makes sure
// an icon that was added is deleted again, however the main window goes away.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string_view>

#include "toolkit/handles.h"

namespace Module1 {

// The tray record, filled afresh by every handler that adds the icon.
extern NOTIFYICONDATAW nid;

// The one platform function the program calls directly.
BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATAW* data);

// Where Shell_NotifyIcon goes: the shell's own function, unless a test stands in for a
// busy shell that refuses.
using ShellNotifyIconFunction = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);
extern ShellNotifyIconFunction shell_notify_icon;

}  // namespace Module1

namespace tray {

class TrayIcon {
 public:
  TrayIcon() = default;
  ~TrayIcon() { Delete(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Fills the record (the window, id 1, the mouse-move callback, the icon resource's
  // picture at the shell's small-icon size, no tip) and puts the icon in the
  // notification area, or finds it there already, at message version 3. False while
  // the shell refuses.
  [[nodiscard]] bool Add(HWND owner, int icon_resource);
  // One more try with the record as it is, after the shell refused.
  [[nodiscard]] bool AddAgain();
  // After the taskbar was (re)created: it starts without our icon, and perhaps at
  // another DPI, so the picture is loaded again at its size before the add.
  [[nodiscard]] bool Restore();
  void Delete();
  // Shows a notification from the icon (a toast on Windows 10 and 11, a balloon before)
  // with the warning icon and the sound Windows gives it. False, and nothing sent, when
  // the shell's notification state says it would not show it now (a full-screen program,
  // presentation mode, quiet time...); false too when the icon is not in the notification
  // area or the shell refused. True does not mean seen: that state knows nothing of focus
  // assist or of notifications turned off for the program.
  [[nodiscard]] bool Notify(std::wstring_view title, std::wstring_view text);
  // Whether the shell took the icon at the last try.
  [[nodiscard]] bool Shown() const noexcept { return shown_; }

 private:
  bool Place();
  void SetVersion();

  HWND owner_ = nullptr;  // set from the first add until the delete
  int icon_resource_ = 0;
  bool shown_ = false;
  toolkit::UniqueIcon icon_;  // the record's picture, freed only after the shell was told
};

// Whether Windows would show a notification now (SHQueryUserNotificationState): the
// shell's answer, unless a test stands in for it.
using NotificationStateQuery = HRESULT(WINAPI*)(QUERY_USER_NOTIFICATION_STATE*);
extern NotificationStateQuery query_notification_state;

// The message the shell broadcasts when its taskbar has been (re)created.
[[nodiscard]] UINT TaskbarCreatedMessage();

// Lets the shell's TaskbarCreated through to the window when the program runs as
// administrator: the message comes from a process of lower integrity.
void AllowTaskbarCreated(HWND window);

}  // namespace tray
