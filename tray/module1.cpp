#include "tray/module1.h"

#include "tray/tray_decode.h"

namespace Module1 {

NOTIFYICONDATAW nid{};

BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATAW* data) { return ::Shell_NotifyIconW(message, data); }

}  // namespace Module1

namespace tray {

void TrayIcon::Add(HWND owner, HICON icon) {
  Module1::nid = NOTIFYICONDATAW{};
  Module1::nid.cbSize = sizeof(NOTIFYICONDATAW);
  Module1::nid.hWnd = owner;
  Module1::nid.uID = kIconId;
  Module1::nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Module1::nid.uCallbackMessage = WM_MOUSEMOVE;
  Module1::nid.hIcon = icon;
  Module1::nid.szTip[0] = L'\0';
  // The result does not matter: a second add of the same icon is refused by the shell.
  (void)Module1::Shell_NotifyIcon(NIM_ADD, &Module1::nid);
  added_ = true;
}

void TrayIcon::ChangeIcon(HICON icon) {
  if (!added_) return;
  Module1::nid.hIcon = icon;
  (void)Module1::Shell_NotifyIcon(NIM_MODIFY, &Module1::nid);
}

void TrayIcon::Restore() {
  if (added_) (void)Module1::Shell_NotifyIcon(NIM_ADD, &Module1::nid);
}

void TrayIcon::Delete() {
  if (!added_) return;
  (void)Module1::Shell_NotifyIcon(NIM_DELETE, &Module1::nid);
  added_ = false;
}

UINT TaskbarCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace tray
