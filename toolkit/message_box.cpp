#include "toolkit/message_box.h"

#include <string>

namespace toolkit {

int MessageBoxPrompter::MsgBox(HWND owner, std::wstring_view prompt, unsigned flags, std::wstring_view title) {
  return ::MessageBoxW(owner, std::wstring(prompt).c_str(), std::wstring(title).c_str(), flags);
}

}  // namespace toolkit
