// The program's one notification-area record and the shell call that uses it. The
// record is written and used only by the main window's handlers; TrayIcon makes sure
// an icon that was added is deleted again, however the main window goes away.
#pragma once

#include <windows.h>

#include <shellapi.h>

namespace Module1 {

// The tray record, filled afresh by every handler that adds the icon.
extern NOTIFYICONDATAW nid;

// The one platform function the program calls directly.
BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATAW* data);

}  // namespace Module1

namespace tray {

class TrayIcon {
 public:
  TrayIcon() = default;
  ~TrayIcon() { Delete(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Fills the record (the window, id 1, the mouse-move callback, the icon, no tip)
  // and adds the icon; adding again while it is shown changes nothing.
  void Add(HWND owner, HICON icon);
  // Shows another picture (the small icon made for a new DPI) in the same icon.
  void ChangeIcon(HICON icon);
  // Adds the icon again after the shell's taskbar has restarted.
  void Restore();
  void Delete();
  [[nodiscard]] bool Added() const noexcept { return added_; }

 private:
  bool added_ = false;
};

// The message the shell broadcasts when its taskbar has been (re)created.
[[nodiscard]] UINT TaskbarCreatedMessage();

}  // namespace tray
