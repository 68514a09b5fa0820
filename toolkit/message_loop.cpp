#include "toolkit/message_loop.h"

#include <windows.h>

#include "toolkit/form.h"

namespace toolkit {
namespace {

void Dispatch(MSG& message) {
  if (Form::PreTranslate(message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

}  // namespace

int RunMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
  return static_cast<int>(message.wParam);
}

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(limit.count());
  MSG message{};
  while (!done()) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Not ours to consume: the outer loop must see it too.
        ::PostQuitMessage(static_cast<int>(message.wParam));
        return done();
      }
      Dispatch(message);
      if (done()) return true;
    }
  }
  return true;
}

}  // namespace toolkit
