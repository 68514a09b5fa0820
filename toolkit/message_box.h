// The modal message box through which the program tells the user of a failure.
#pragma once

#include <windows.h>

#include <string_view>

namespace toolkit {

// Flags of every message the program shows: critical (stop) icon and one OK button.
inline constexpr unsigned kCriticalOk = MB_ICONHAND | MB_OK;  // 16
// The title of every message the program shows.
inline constexpr wchar_t kErrorTitle[] = L"错误";
// Added for a message that may come long after the user went on to another program:
// the box takes the foreground and stays above every window that is not topmost.
inline constexpr unsigned kInFront = MB_SETFOREGROUND | MB_TOPMOST;

// The seam through which the windows show message boxes; tests put a recorder here.
class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual int MsgBox(HWND owner, std::wstring_view prompt, unsigned flags, std::wstring_view title) = 0;
};

class MessageBoxPrompter final : public Prompter {
 public:
  int MsgBox(HWND owner, std::wstring_view prompt, unsigned flags, std::wstring_view title) override;
};

}  // namespace toolkit
