// uidriver: drives MorvaneShutdown.exe from the outside, the way UI
// automation would, for the end-to-end tests.
//
// It runs in the same Wine prefix (so the same desktop) as the program under
// test, reads one command per line from stdin and answers every command with
// exactly one line on stdout: "ok <payload>" or "err <reason>". Both ways are
// UTF-8; arguments are separated by tabs so texts may hold spaces.
//
// Windows are named by their exact top-level caption, controls by their
// control ID (0 = the window itself). Nothing here ever blocks for long:
// messages to the program go with SendMessageTimeoutW (2 s) or PostMessageW,
// and every wait polls every 20 ms up to the timeout it was given.
//
// Commands (<c> caption, <id> control ID, <ms> timeout in milliseconds):
//   find <c>                 ok <hwnd hex> <visible 0/1>       | err none
//   count <c> / vcount <c>   number of (visible) top-level windows with <c>
//   wait <c> <ms>            until one exists and is visible  -> like find
//   gone <c> <ms>            until none exists                -> ok <ms waited>
//   text <c> <id>            control text, \t \n \r \\ escaped
//   rect <c> <id>            ok left top width height, in <c>'s client coords
//                            (id 0: the client area itself, ok 0 0 w h)
//   wrect <c> [<id>]         the window rect on screen
//   parent <c> <id>          ok <hwnd hex> of the control's parent window
//   style <c> <id>           ok <style hex> <exstyle hex> <class name>
//   visible/enabled/checked <c> <id>   ok 0/1 (checked: BM_GETCHECK value)
//   click <c> <id>           posts BM_CLICK                   -> ok <unix ms>
//   chars <c> <id> <text>    posts WM_CHAR per UTF-16 unit of the unescaped
//                            text (\b \t \n \r \\ \xHH \uHHHH) -> ok <count>
//   selall <c> <id>          posts EM_SETSEL(0, -1)
//   settext <c> <id> <text>  WM_SETTEXT (unescaped)           -> ok | ok timeout
//   setcheck <c> <id> <0|1>  posts BM_SETCHECK
//   key <c> <id> <vk>        posts WM_KEYDOWN then WM_KEYUP of a virtual key, as
//                            the keyboard does to the control with the focus
//   post <c> <id> <msg> <wparam> <lparam>   posts any message (numbers as in C)
//   prev <c> <id>            the window just before the control in z-order, where
//                            Windows looks for its name: ok <id>:<class>:<text>
//   close <c>                posts WM_CLOSE
//   msgbox <ms> [<c>]        waits for a visible dialog (#32770) captioned
//                            <c> (default 错误) -> ok <prompt text>
//   msgboxok [<c>]           clicks its OK button, waits until it is gone
//   msgcount [<c>]           number of such dialogs that are visible
//   pid <c>                  owning process id (decimal)
//   children <c>             id:class:text of all descendants, \x1f separated
//   list                     hwnd:pid:class:visible:caption of all top-level
//                            windows, \x1f separated
//   closepid <pid>           posts WM_CLOSE to every top-level window of <pid>
//   alive <pid> / kill <pid> process still running? / TerminateProcess
//   setclip <text>           puts the (unescaped) text on the clipboard
//   screen                   ok <screen w> <screen h> <work l t w h>
//   now                      ok <unix ms>
//   clock                    ok <unix ms> <GetTickCount ms>: Wine stamps its
//                            traces with the tick count, the tests use unix ms
//   quit

#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr UINT kSendTimeoutMs = 2000;
constexpr DWORD kPollMs = 20;
constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;
const wchar_t* const kDefaultMsgBoxCaption = L"\x9519\x8BEF";  // 错误

HWND g_msg_window = nullptr;

// ---------------------------------------------------------------- text utils

std::wstring from_utf8(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string to_utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Keeps every answer on one line.
std::wstring escape(const std::wstring& in) {
  std::wstring out;
  out.reserve(in.size());
  for (wchar_t c : in) {
    switch (c) {
      case L'\\':
        out += L"\\\\";
        break;
      case L'\t':
        out += L"\\t";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\r':
        out += L"\\r";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

int hex_digit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads exactly `digits` hex digits at in[pos]; -1 if they aren't there.
long read_hex(const std::wstring& in, size_t pos, size_t digits) {
  if (pos + digits > in.size()) return -1;
  long v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = hex_digit(in[pos + i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

std::optional<std::wstring> unescape(const std::wstring& in) {
  std::wstring out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != L'\\') {
      out += in[i];
      continue;
    }
    if (++i >= in.size()) return std::nullopt;
    switch (in[i]) {
      case L'\\':
        out += L'\\';
        break;
      case L'b':
        out += L'\b';
        break;
      case L't':
        out += L'\t';
        break;
      case L'n':
        out += L'\n';
        break;
      case L'r':
        out += L'\r';
        break;
      case L'x': {
        const long v = read_hex(in, i + 1, 2);
        if (v < 0) return std::nullopt;
        out += static_cast<wchar_t>(v);
        i += 2;
        break;
      }
      case L'u': {
        const long v = read_hex(in, i + 1, 4);
        if (v < 0) return std::nullopt;
        out += static_cast<wchar_t>(v);
        i += 4;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::vector<std::wstring> split_tabs(const std::wstring& line) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(L'\t', start);
    if (tab == std::wstring::npos) {
      parts.push_back(line.substr(start));
      return parts;
    }
    parts.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

std::optional<long long> parse_int(const std::wstring& s) {
  if (s.empty()) return std::nullopt;
  wchar_t* end = nullptr;
  const long long v = wcstoll(s.c_str(), &end, 0);
  if (end == nullptr || *end != L'\0') return std::nullopt;
  return v;
}

std::wstring hex(unsigned long long v) {
  wchar_t buf[32];
  swprintf(buf, 32, L"%llx", v);
  return buf;
}

std::wstring num(long long v) { return std::to_wstring(v); }

unsigned long long unix_ms_now() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER t{};
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return (t.QuadPart - kUnixEpochTicks) / 10000ULL;
}

// ------------------------------------------------------------------- waiting

// Sleeps while keeping our own (clipboard) window responsive.
void pump_sleep(DWORD ms) {
  const ULONGLONG until = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= until) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
  }
}

// Polls `done` every 20 ms until it is true or `timeout_ms` have passed.
template <typename Pred>
bool poll_until(long long timeout_ms, Pred done) {
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= until) return false;
    pump_sleep(kPollMs);
  }
}

// ------------------------------------------------------------------- windows

std::wstring window_text_internal(HWND h) {
  // InternalGetWindowText never sends a message, so a hung window can't hang us.
  wchar_t buf[1024];
  const int n = InternalGetWindowText(h, buf, 1024);
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring class_name(HWND h) {
  wchar_t buf[256];
  const int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

BOOL CALLBACK collect_window(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
  return TRUE;
}

std::vector<HWND> top_levels() {
  std::vector<HWND> all;
  EnumWindows(&collect_window, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> top_levels_captioned(const std::wstring& caption) {
  std::vector<HWND> out;
  for (HWND h : top_levels()) {
    if (h != g_msg_window && window_text_internal(h) == caption) out.push_back(h);
  }
  return out;
}

// The visible one if there is one, else the first hidden one.
HWND find_top(const std::wstring& caption) {
  HWND hidden = nullptr;
  for (HWND h : top_levels_captioned(caption)) {
    if (IsWindowVisible(h)) return h;
    if (!hidden) hidden = h;
  }
  return hidden;
}

std::vector<HWND> descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, &collect_window, reinterpret_cast<LPARAM>(&all));
  return all;
}

HWND find_control(HWND top, long long id) {
  if (id == 0) return top;
  for (HWND h : descendants(top)) {
    if (static_cast<long long>(GetWindowLongPtrW(h, GWLP_ID)) == id) return h;
  }
  return nullptr;
}

std::optional<std::wstring> get_text(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len)) return std::nullopt;
  std::wstring buf(len + 64, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &got))
    return std::nullopt;
  buf.resize(wcsnlen(buf.c_str(), buf.size()));
  return buf;
}

std::vector<HWND> visible_dialogs(const std::wstring& caption) {
  std::vector<HWND> out;
  for (HWND h : top_levels_captioned(caption)) {
    if (IsWindowVisible(h) && class_name(h) == L"#32770") out.push_back(h);
  }
  return out;
}

// The prompt of a message box: the non-empty STATIC children, one per line.
std::wstring dialog_prompt(HWND dlg) {
  std::wstring out;
  for (HWND c : descendants(dlg)) {
    if (_wcsicmp(class_name(c).c_str(), L"Static") != 0) continue;
    const auto t = get_text(c);
    if (!t || t->empty()) continue;
    if (!out.empty()) out += L'\n';
    out += *t;
  }
  return out;
}

HWND dialog_ok_button(HWND dlg) {
  HWND ok = GetDlgItem(dlg, IDOK);
  if (ok) return ok;
  HWND only = nullptr;
  for (HWND c : descendants(dlg)) {
    if (_wcsicmp(class_name(c).c_str(), L"Button") != 0) continue;
    if (only) return nullptr;  // more than one and none is IDOK: don't guess
    only = c;
  }
  return only;
}

// -------------------------------------------------------------------- output

void write_line(const std::wstring& line) {
  const std::string bytes = to_utf8(line) + "\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD done = 0;
  size_t off = 0;
  while (off < bytes.size()) {
    if (!WriteFile(out, bytes.data() + off, static_cast<DWORD>(bytes.size() - off), &done, nullptr) || done == 0)
      return;
    off += done;
  }
  FlushFileBuffers(out);
}

std::wstring ok(const std::wstring& payload = {}) { return payload.empty() ? L"ok" : L"ok " + payload; }
std::wstring err(const std::wstring& why) { return L"err " + why; }

// ------------------------------------------------------------------ commands

using Args = std::vector<std::wstring>;

struct Target {
  HWND top = nullptr;
  HWND ctl = nullptr;
  std::wstring error;
};

// args[1] = caption, args[2] = control ID (0 or missing = the window itself).
Target resolve(const Args& a, bool id_required) {
  Target t;
  if (a.size() < 2 || (id_required && a.size() < 3)) {
    t.error = err(L"usage");
    return t;
  }
  t.top = find_top(a[1]);
  if (!t.top) {
    t.error = err(L"no window");
    return t;
  }
  long long id = 0;
  if (a.size() >= 3) {
    const auto v = parse_int(a[2]);
    if (!v) {
      t.error = err(L"bad id");
      return t;
    }
    id = *v;
  }
  t.ctl = find_control(t.top, id);
  if (!t.ctl) t.error = err(L"no control");
  return t;
}

std::wstring rect_payload(const RECT& r) {
  return num(r.left) + L" " + num(r.top) + L" " + num(r.right - r.left) + L" " + num(r.bottom - r.top);
}

std::wstring cmd_find(const Args& a) {
  if (a.size() < 2) return err(L"usage");
  HWND h = find_top(a[1]);
  if (!h) return err(L"none");
  return ok(hex(reinterpret_cast<uintptr_t>(h)) + L" " + (IsWindowVisible(h) ? L"1" : L"0"));
}

std::wstring cmd_count(const Args& a, bool visible_only) {
  if (a.size() < 2) return err(L"usage");
  long long n = 0;
  for (HWND h : top_levels_captioned(a[1])) {
    if (!visible_only || IsWindowVisible(h)) ++n;
  }
  return ok(num(n));
}

std::wstring cmd_wait(const Args& a) {
  if (a.size() < 3) return err(L"usage");
  const auto ms = parse_int(a[2]);
  if (!ms) return err(L"bad timeout");
  HWND found = nullptr;
  if (!poll_until(*ms, [&] {
        found = find_top(a[1]);
        return found && IsWindowVisible(found);
      }))
    return err(L"timeout");
  return ok(hex(reinterpret_cast<uintptr_t>(found)) + L" 1");
}

std::wstring cmd_gone(const Args& a) {
  if (a.size() < 3) return err(L"usage");
  const auto ms = parse_int(a[2]);
  if (!ms) return err(L"bad timeout");
  const ULONGLONG start = GetTickCount64();
  if (!poll_until(*ms, [&] { return top_levels_captioned(a[1]).empty(); })) return err(L"timeout");
  return ok(num(static_cast<long long>(GetTickCount64() - start)));
}

std::wstring cmd_text(const Args& a) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto text = get_text(t.ctl);
  if (!text) return err(L"timeout");
  return L"ok " + escape(*text);  // "ok " even when empty, so the payload is unambiguous
}

std::wstring cmd_rect(const Args& a) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  RECT r{};
  if (t.ctl == t.top) {
    GetClientRect(t.top, &r);
    return ok(rect_payload(r));
  }
  GetWindowRect(t.ctl, &r);
  MapWindowPoints(HWND_DESKTOP, t.top, reinterpret_cast<POINT*>(&r), 2);
  return ok(rect_payload(r));
}

std::wstring cmd_wrect(const Args& a) {
  Target t = resolve(a, false);
  if (!t.error.empty()) return t.error;
  RECT r{};
  GetWindowRect(t.ctl, &r);
  return ok(rect_payload(r));
}

std::wstring cmd_parent(const Args& a) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  return ok(hex(reinterpret_cast<uintptr_t>(GetAncestor(t.ctl, GA_PARENT))));
}

std::wstring cmd_style(const Args& a) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto style = static_cast<unsigned long long>(static_cast<uint32_t>(GetWindowLongPtrW(t.ctl, GWL_STYLE)));
  const auto exstyle = static_cast<unsigned long long>(static_cast<uint32_t>(GetWindowLongPtrW(t.ctl, GWL_EXSTYLE)));
  return ok(hex(style) + L" " + hex(exstyle) + L" " + class_name(t.ctl));
}

std::wstring cmd_flag(const Args& a, const std::wstring& which) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  if (which == L"visible") return ok(IsWindowVisible(t.ctl) ? L"1" : L"0");
  if (which == L"enabled") return ok(IsWindowEnabled(t.ctl) ? L"1" : L"0");
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutW(t.ctl, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state)) return err(L"timeout");
  return ok(num(static_cast<long long>(state)));
}

std::wstring post(HWND h, UINT msg, WPARAM wp, LPARAM lp, const std::wstring& payload = {}) {
  if (!PostMessageW(h, msg, wp, lp)) return err(L"post failed " + num(GetLastError()));
  return ok(payload);
}

std::wstring cmd_click(const Args& a) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const unsigned long long when = unix_ms_now();
  return post(t.ctl, BM_CLICK, 0, 0, num(static_cast<long long>(when)));
}

std::wstring cmd_chars(const Args& a) {
  if (a.size() < 4) return err(L"usage");
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto text = unescape(a[3]);
  if (!text) return err(L"bad escape");
  for (wchar_t c : *text) {
    if (!PostMessageW(t.ctl, WM_CHAR, static_cast<WPARAM>(c), 1)) return err(L"post failed " + num(GetLastError()));
  }
  return ok(num(static_cast<long long>(text->size())));
}

std::wstring cmd_settext(const Args& a) {
  if (a.size() < 4) return err(L"usage");
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto text = unescape(a[3]);
  if (!text) return err(L"bad escape");
  DWORD_PTR res = 0;
  SetLastError(0);
  if (!SendMessageTimeoutW(t.ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text->c_str()), SMTO_NORMAL, kSendTimeoutMs,
                           &res)) {
    // The change handler may be sitting in a modal message box.
    if (GetLastError() == ERROR_TIMEOUT || GetLastError() == 0) return ok(L"timeout");
    return err(L"send failed " + num(GetLastError()));
  }
  return ok();
}

std::wstring cmd_setcheck(const Args& a) {
  if (a.size() < 4) return err(L"usage");
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto v = parse_int(a[3]);
  if (!v) return err(L"bad state");
  return post(t.ctl, BM_SETCHECK, static_cast<WPARAM>(*v), 0);
}

std::wstring cmd_key(const Args& a) {
  if (a.size() < 4) return err(L"usage");
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto vk = parse_int(a[3]);
  if (!vk || *vk <= 0 || *vk > 0xFE) return err(L"bad key");
  // Repeat count 1 and the scan code; a release also has the previous-state and
  // transition bits.
  const auto scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(*vk), MAPVK_VK_TO_VSC)) << 16;
  const LPARAM down = 1 | scan;
  const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
  if (!PostMessageW(t.ctl, WM_KEYDOWN, static_cast<WPARAM>(*vk), down))
    return err(L"post failed " + num(GetLastError()));
  // The press may already have closed the window (Esc, Enter on 确定): then there is
  // nothing left to release the key in.
  if (!PostMessageW(t.ctl, WM_KEYUP, static_cast<WPARAM>(*vk), up) && IsWindow(t.ctl))
    return err(L"post failed " + num(GetLastError()));
  return ok();
}

std::wstring cmd_post(const Args& a) {
  if (a.size() < 6) return err(L"usage");
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  const auto msg = parse_int(a[3]);
  const auto wp = parse_int(a[4]);
  const auto lp = parse_int(a[5]);
  if (!msg || !wp || !lp) return err(L"bad number");
  return post(t.ctl, static_cast<UINT>(*msg), static_cast<WPARAM>(*wp), static_cast<LPARAM>(*lp));
}

std::wstring cmd_prev(const Args& a) {
  Target t = resolve(a, true);
  if (!t.error.empty()) return t.error;
  HWND before = GetWindow(t.ctl, GW_HWNDPREV);
  if (!before) return err(L"none");
  return L"ok " + escape(num(static_cast<long long>(GetWindowLongPtrW(before, GWLP_ID))) + L":" + class_name(before) +
                         L":" + get_text(before).value_or(L"<timeout>"));
}

std::wstring caption_arg(const Args& a, size_t index) {
  return a.size() > index && !a[index].empty() ? a[index] : std::wstring(kDefaultMsgBoxCaption);
}

std::wstring cmd_msgbox(const Args& a) {
  if (a.size() < 2) return err(L"usage");
  const auto ms = parse_int(a[1]);
  if (!ms) return err(L"bad timeout");
  const std::wstring caption = caption_arg(a, 2);
  HWND dlg = nullptr;
  if (!poll_until(*ms, [&] {
        const auto found = visible_dialogs(caption);
        dlg = found.empty() ? nullptr : found.front();
        return dlg != nullptr;
      }))
    return err(L"timeout");
  // The prompt may be filled in just after the box shows up.
  std::wstring prompt;
  poll_until(500, [&] {
    prompt = dialog_prompt(dlg);
    return !prompt.empty();
  });
  return L"ok " + escape(prompt);
}

std::wstring cmd_msgboxok(const Args& a) {
  const std::wstring caption = caption_arg(a, 1);
  const auto found = visible_dialogs(caption);
  if (found.empty()) return err(L"no dialog");
  HWND dlg = found.front();
  HWND button = dialog_ok_button(dlg);
  if (!button) return err(L"no ok button");
  PostMessageW(button, BM_CLICK, 0, 0);
  if (poll_until(1500, [&] { return !IsWindow(dlg) || !IsWindowVisible(dlg); })) return ok();
  // The click didn't take (e.g. the box never got focus); press OK the way
  // the dialog manager would.
  const int id = GetDlgCtrlID(button);
  PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  if (poll_until(1500, [&] { return !IsWindow(dlg) || !IsWindowVisible(dlg); })) return ok(L"fallback");
  return err(L"still open");
}

std::wstring cmd_msgcount(const Args& a) {
  return ok(num(static_cast<long long>(visible_dialogs(caption_arg(a, 1)).size())));
}

std::wstring cmd_pid(const Args& a) {
  if (a.size() < 2) return err(L"usage");
  HWND h = find_top(a[1]);
  if (!h) return err(L"no window");
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return ok(num(pid));
}

std::wstring cmd_children(const Args& a) {
  if (a.size() < 2) return err(L"usage");
  HWND h = find_top(a[1]);
  if (!h) return err(L"no window");
  std::wstring out;
  for (HWND c : descendants(h)) {
    if (!out.empty()) out += L'\x1f';
    out += num(static_cast<long long>(GetWindowLongPtrW(c, GWLP_ID))) + L":" + class_name(c) + L":" +
           get_text(c).value_or(L"<timeout>");
  }
  return L"ok " + escape(out);
}

std::wstring cmd_list() {
  std::wstring out;
  for (HWND h : top_levels()) {
    if (h == g_msg_window) continue;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (!out.empty()) out += L'\x1f';
    out += hex(reinterpret_cast<uintptr_t>(h)) + L":" + num(pid) + L":" + class_name(h) + L":" +
           (IsWindowVisible(h) ? L"1" : L"0") + L":" + window_text_internal(h);
  }
  return L"ok " + escape(out);
}

std::optional<DWORD> pid_arg(const Args& a) {
  if (a.size() < 2) return std::nullopt;
  const auto v = parse_int(a[1]);
  if (!v || *v <= 0) return std::nullopt;
  return static_cast<DWORD>(*v);
}

std::wstring cmd_closepid(const Args& a) {
  const auto pid = pid_arg(a);
  if (!pid) return err(L"usage");
  // Dialogs first, so a modal box doesn't sit in the way of its owner.
  std::vector<HWND> dialogs, others;
  for (HWND h : top_levels()) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner != *pid) continue;
    const std::wstring cls = class_name(h);
    if (cls == L"IME") continue;  // the system's per-thread IME window, not the program's
    (cls == L"#32770" ? dialogs : others).push_back(h);
  }
  long long n = 0;
  for (HWND h : dialogs) n += PostMessageW(h, WM_CLOSE, 0, 0) ? 1 : 0;
  for (HWND h : others) n += PostMessageW(h, WM_CLOSE, 0, 0) ? 1 : 0;
  return ok(num(n));
}

std::wstring cmd_alive(const Args& a) {
  const auto pid = pid_arg(a);
  if (!pid) return err(L"usage");
  HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, *pid);
  if (!p) return ok(L"0");
  const bool running = WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
  CloseHandle(p);
  return ok(running ? L"1" : L"0");
}

std::wstring cmd_kill(const Args& a) {
  const auto pid = pid_arg(a);
  if (!pid) return err(L"usage");
  HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, *pid);
  if (!p) return err(L"no process");
  const BOOL done = TerminateProcess(p, 1);
  CloseHandle(p);
  return done ? ok() : err(L"terminate failed " + num(GetLastError()));
}

std::wstring cmd_setclip(const Args& a) {
  if (a.size() < 2) return err(L"usage");
  const auto text = unescape(a[1]);
  if (!text) return err(L"bad escape");
  if (!poll_until(1000, [] { return OpenClipboard(g_msg_window) != FALSE; })) return err(L"clipboard busy");
  EmptyClipboard();
  const size_t bytes = (text->size() + 1) * sizeof(wchar_t);
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool stored = false;
  if (mem) {
    if (void* p = GlobalLock(mem)) {
      memcpy(p, text->c_str(), bytes);
      GlobalUnlock(mem);
      stored = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
    }
    if (!stored) GlobalFree(mem);
  }
  CloseClipboard();
  return stored ? ok() : err(L"clipboard failed");
}

std::wstring cmd_screen() {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return ok(num(GetSystemMetrics(SM_CXSCREEN)) + L" " + num(GetSystemMetrics(SM_CYSCREEN)) + L" " + rect_payload(work));
}

std::wstring dispatch(const Args& a, bool& quit) {
  const std::wstring& c = a[0];
  if (c == L"find") return cmd_find(a);
  if (c == L"count") return cmd_count(a, false);
  if (c == L"vcount") return cmd_count(a, true);
  if (c == L"wait") return cmd_wait(a);
  if (c == L"gone") return cmd_gone(a);
  if (c == L"text") return cmd_text(a);
  if (c == L"rect") return cmd_rect(a);
  if (c == L"wrect") return cmd_wrect(a);
  if (c == L"parent") return cmd_parent(a);
  if (c == L"style") return cmd_style(a);
  if (c == L"visible" || c == L"enabled" || c == L"checked") return cmd_flag(a, c);
  if (c == L"click") return cmd_click(a);
  if (c == L"chars") return cmd_chars(a);
  if (c == L"selall") {
    Target t = resolve(a, true);
    return t.error.empty() ? post(t.ctl, EM_SETSEL, 0, -1) : t.error;
  }
  if (c == L"settext") return cmd_settext(a);
  if (c == L"setcheck") return cmd_setcheck(a);
  if (c == L"key") return cmd_key(a);
  if (c == L"post") return cmd_post(a);
  if (c == L"prev") return cmd_prev(a);
  if (c == L"close") {
    if (a.size() < 2) return err(L"usage");
    HWND h = find_top(a[1]);
    return h ? post(h, WM_CLOSE, 0, 0) : err(L"no window");
  }
  if (c == L"msgbox") return cmd_msgbox(a);
  if (c == L"msgboxok") return cmd_msgboxok(a);
  if (c == L"msgcount") return cmd_msgcount(a);
  if (c == L"pid") return cmd_pid(a);
  if (c == L"children") return cmd_children(a);
  if (c == L"list") return cmd_list();
  if (c == L"closepid") return cmd_closepid(a);
  if (c == L"alive") return cmd_alive(a);
  if (c == L"kill") return cmd_kill(a);
  if (c == L"setclip") return cmd_setclip(a);
  if (c == L"screen") return cmd_screen();
  if (c == L"now") return ok(num(static_cast<long long>(unix_ms_now())));
  if (c == L"clock") {
    const auto unix_ms = static_cast<long long>(unix_ms_now());
    return ok(num(unix_ms) + L" " + num(static_cast<long long>(GetTickCount())));
  }
  if (c == L"ping") return ok(L"pong");
  if (c == L"quit") {
    quit = true;
    return ok();
  }
  return err(L"unknown command");
}

// Line reader on the raw stdin handle (a pipe from the test harness).
class LineReader {
 public:
  bool next(std::string& line) {
    for (;;) {
      const size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        line = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      char chunk[4096];
      DWORD got = 0;
      if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), chunk, sizeof(chunk), &got, nullptr) || got == 0) {
        if (buf_.empty()) return false;
        line.swap(buf_);
        buf_.clear();
        return true;
      }
      buf_.append(chunk, got);
    }
  }

 private:
  std::string buf_;
};

}  // namespace

int wmain() {
  // Real pixels, as the program (per-monitor aware) sees them, at any DPI.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  // A window of our own, for clipboard ownership; never shown.
  g_msg_window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  LineReader in;
  std::string raw;
  bool quit = false;
  while (!quit && in.next(raw)) {
    if (raw.empty()) {
      write_line(err(L"empty"));
      continue;
    }
    const Args args = split_tabs(from_utf8(raw));
    write_line(dispatch(args, quit));
  }
  if (g_msg_window) DestroyWindow(g_msg_window);
  return 0;
}
