// The keyboard in the program's forms as in a dialog box (Tab, the arrows between
// options, Enter and Esc), under the message boxes too, and one key stroke, one press.
#include <windows.h>

#include <optional>
#include <utility>

#include "toolkit/form.h"
#include "toolkit/handles.h"

namespace toolkit {
namespace {

// In a key message's lParam: the key was down before this message.
constexpr LPARAM kKeyWasDown = LPARAM{1} << 30;

// The message Form::PreTranslate has handed to the dialog manager, until the thread's
// message filter has seen it: the dialog manager shows the filter what it is given
// (Wine's does, and Windows' is known to, though its page does not say so), and the
// filter must pass that showing on, or it would hand the key back to PreTranslate, and so
// on until the stack runs out. A filter may be given its own copy of the MSG (Windows'
// hooks are), so the message is known by what it says, not by its address.
struct Translating {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};
std::optional<Translating> awaiting_filter;

// Whether the filter is being shown the message PreTranslate is translating; its one
// showing is used up.
bool IsPreTranslatesOwn(const MSG& message) {
  const std::optional<Translating>& own = awaiting_filter;
  if (!own || own->hwnd != message.hwnd || own->message != message.message || own->wparam != message.wParam ||
      own->lparam != message.lParam)
    return false;
  awaiting_filter.reset();
  return true;
}

// One key stroke, one press: a key that was already down when the message came (a
// repeat, or the rest of a stroke that began in another window) presses nothing. Enter
// and Esc press a form's buttons; in a box Space presses the focused button too.
bool PressesAgain(const MSG& message, bool space_presses) {
  if (message.message != WM_KEYDOWN || !(message.lParam & kKeyWasDown)) return false;
  return message.wParam == VK_RETURN || message.wParam == VK_ESCAPE || (space_presses && message.wParam == VK_SPACE);
}

// Installed with the first form, for the user-interface thread, until the process ends.
UniqueHook key_filter;

}  // namespace

void Form::InstallKeyFilter() {
  // Without it the keys of a form beside an open box are lost, and a held key presses a
  // box's buttons.
  if (!key_filter)
    key_filter.reset(::SetWindowsHookExW(WH_MSGFILTER, &Form::FilterBoxKeys, nullptr, ::GetCurrentThreadId()));
}

Form* Form::LiveForm(HWND root) noexcept {
  for (Form* form : LiveFormList())
    if (form->hwnd_ == root) return form;
  return nullptr;
}

// While a message box (or a dialog box) runs its own loop, the program's loop and with
// it PreTranslate see nothing, so another open form (About, beside a box of the main
// window) would lose Tab, Enter and Esc. The box's loop shows each message to the
// thread's message filter first; the keys aimed at a form are handled there, as the
// program's loop would. The box's own keys pass, but for a held one: the Enter on
// 开始计时 that opened 请输入正确的时间！ would otherwise press its OK as it repeats.
LRESULT CALLBACK Form::FilterBoxKeys(int code, WPARAM wparam, LPARAM lparam) {
  MSG* message = reinterpret_cast<MSG*>(lparam);
  const bool box_loop = code == MSGF_DIALOGBOX || code == MSGF_MESSAGEBOX;
  if (box_loop && message && !IsPreTranslatesOwn(*message) && message->message >= WM_KEYFIRST &&
      message->message <= WM_KEYLAST) {
    if (PreTranslate(*message)) return TRUE;  // handled: the box's loop skips it
    if (message->hwnd && !LiveForm(::GetAncestor(message->hwnd, GA_ROOT)) && PressesAgain(*message, true)) return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

bool Form::PreTranslate(MSG& message) {
  if (!message.hwnd) return false;
  HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
  if (!LiveForm(root)) return false;
  // Such as the rest of the stroke that chose the tray icon and brought this window back.
  if (PressesAgain(message, false)) return true;
  // Awaited until the dialog manager returns; then whatever an outer call awaits again.
  const std::optional<Translating> outer =
      std::exchange(awaiting_filter, Translating{message.hwnd, message.message, message.wParam, message.lParam});
  const bool handled = ::IsDialogMessageW(root, &message) != FALSE;
  awaiting_filter = outer;
  if (message.message == WM_KEYDOWN) {
    // The dialog manager may have moved the focus (Tab, arrows) and set the buttons'
    // look its own way; and the key may have closed the form, so it is looked up again.
    HWND focus = ::GetFocus();
    Form* form = LiveForm(root);
    if (form && (focus == root || ::IsChild(root, focus))) form->ShowDefaultButton(focus);
  }
  return handled;
}

}  // namespace toolkit
