#include "tray/module1.h"

#include <algorithm>
#include <utility>

#include "toolkit/common_controls.h"
#include "tray/tray_decode.h"

namespace Module1 {

NOTIFYICONDATAW nid{};

ShellNotifyIconFunction shell_notify_icon = &::Shell_NotifyIconW;

BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATAW* data) { return shell_notify_icon(message, data); }

}  // namespace Module1

namespace tray {
namespace {

// The notification area sits on the taskbar's monitor, whatever monitor the window is
// on, so the picture is made for the shell's small-icon size rather than the window's.
// LoadIconMetric scales a larger image down where the file has no exact size.
toolkit::UniqueIcon LoadTrayPicture(int resource) {
  HICON icon = nullptr;
  if (FAILED(toolkit::Comctl32().LoadIconMetric(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), LIM_SMALL,
                                                &icon)))
    return {};
  return toolkit::UniqueIcon(icon);
}

// As much of `text` as fits, always ended.
template <std::size_t N>
void CopyInto(wchar_t (&into)[N], std::wstring_view text) {
  const std::size_t n = std::min(text.size(), N - 1);
  text.copy(into, n);
  into[n] = L'\0';
}

}  // namespace

bool TrayIcon::Add(HWND owner, int icon_resource) {
  toolkit::UniqueIcon old;  // freed on return, once the shell was told of its successor
  if (!icon_ || icon_resource != icon_resource_) old = std::exchange(icon_, LoadTrayPicture(icon_resource));
  owner_ = owner;
  icon_resource_ = icon_resource;
  Module1::nid = NOTIFYICONDATAW{};
  Module1::nid.cbSize = sizeof(NOTIFYICONDATAW);
  Module1::nid.hWnd = owner;
  Module1::nid.uID = kIconId;
  Module1::nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Module1::nid.uCallbackMessage = WM_MOUSEMOVE;
  Module1::nid.hIcon = icon_.get();
  Module1::nid.szTip[0] = L'\0';
  return Place();
}

bool TrayIcon::AddAgain() { return owner_ && Place(); }

bool TrayIcon::Restore() {
  if (!owner_) return false;
  shown_ = false;  // a new taskbar starts without our icon
  // The shell keeps its own copy of a picture it took; ours is freed on return, after
  // the shell was told of the new one.
  toolkit::UniqueIcon old = std::exchange(icon_, LoadTrayPicture(icon_resource_));
  if (!icon_) icon_ = std::move(old);
  Module1::nid.hIcon = icon_.get();
  return Place();
}

bool TrayIcon::Place() {
  // A busy shell times out after a few seconds, sometimes on an add it still carries
  // out later, and it refuses to add an icon it already has. So a refused add is
  // checked with a change, and an icon we believe is in is checked with a change first.
  const DWORD first = shown_ ? NIM_MODIFY : NIM_ADD;
  const DWORD second = shown_ ? NIM_ADD : NIM_MODIFY;
  shown_ = Module1::Shell_NotifyIcon(first, &Module1::nid) || Module1::Shell_NotifyIcon(second, &Module1::nid);
  if (shown_) SetVersion();
  return shown_;
}

void TrayIcon::SetVersion() {
  // Version 3 keeps the messages as they were (the icon's id in wparam, the event in
  // lparam), so the double-click arrives as before, and adds the keyboard's select.
  // The shell forgets the version with the icon, so it is set after every add. A
  // refusal is not worth a retry: the mouse still works at version 0.
  Module1::nid.uVersion = NOTIFYICON_VERSION;
  (void)Module1::Shell_NotifyIcon(NIM_SETVERSION, &Module1::nid);
}

void TrayIcon::Delete() {
  if (!owner_) return;
  // Even after refusals: an add that timed out may still have been carried out.
  (void)Module1::Shell_NotifyIcon(NIM_DELETE, &Module1::nid);
  shown_ = false;
  owner_ = nullptr;
  Module1::nid.hIcon = nullptr;
  icon_.reset();
}

NotificationStateQuery query_notification_state = &::SHQueryUserNotificationState;

bool TrayIcon::Notify(std::wstring_view title, std::wstring_view text) {
  if (!owner_ || !shown_) return false;
  QUERY_USER_NOTIFICATION_STATE state{};
  if (FAILED(query_notification_state(&state)) || state != QUNS_ACCEPTS_NOTIFICATIONS) return false;
  NOTIFYICONDATAW& record = Module1::nid;
  // Only this change shows it: the record's flags are put back at once, so that a later
  // change of the icon never shows the notification again. uTimeout shares its place with
  // the version and is ignored since Windows Vista (the user's accessibility settings
  // decide how long it stays).
  const UINT flags = std::exchange(record.uFlags, static_cast<UINT>(NIF_INFO));
  CopyInto(record.szInfoTitle, title);
  CopyInto(record.szInfo, text);
  record.dwInfoFlags = NIIF_WARNING;
  const bool shown = Module1::Shell_NotifyIcon(NIM_MODIFY, &record) != FALSE;
  record.uFlags = flags;
  record.szInfoTitle[0] = L'\0';
  record.szInfo[0] = L'\0';
  record.dwInfoFlags = 0;
  return shown;
}

// Registered at first use, on the user-interface thread (so no lock guards it), rather
// than before the program's first line, where no Windows call belongs.
UINT TaskbarCreatedMessage() {
  static UINT taskbar_created = 0;
  if (!taskbar_created) taskbar_created = ::RegisterWindowMessageW(L"TaskbarCreated");
  return taskbar_created;
}

void AllowTaskbarCreated(HWND window) {
  // Fails only in a low-integrity process, which receives the message anyway.
  (void)::ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
}

}  // namespace tray
