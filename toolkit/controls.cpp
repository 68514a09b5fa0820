#include "toolkit/controls.h"

#include <imm.h>

#include "toolkit/common_controls.h"
#include "toolkit/form.h"

namespace toolkit {

Control::Control(Form& form, int id, Kind kind, std::wstring caption, TwipsRect position, const Frame* frame)
    : form_(form), id_(id), kind_(kind), initial_caption_(std::move(caption)), position_(position), frame_(frame) {
  form_.controls_.push_back(this);
}

TwipsRect Control::FormPosition() const noexcept {
  TwipsRect out = position_;
  if (frame_) {
    out.left += frame_->Position().left;
    out.top += frame_->Position().top;
  }
  return out;
}

std::wstring Control::Text() const {
  if (!hwnd_) return initial_caption_;
  const int length = ::GetWindowTextLengthW(hwnd_);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(hwnd_, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

bool Control::Visible() const { return hwnd_ ? ::IsWindowVisible(hwnd_) != FALSE : initially_visible_; }

void Control::SetVisible(bool visible) {
  if (hwnd_) ::ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

void Control::WriteText(std::wstring_view text) {
  if (hwnd_) ::SetWindowTextW(hwnd_, std::wstring(text).c_str());
}

void Control::FocusMoved(HWND focus) const {
  HWND parent = form_.hwnd();
  if (parent && (focus == parent || ::IsChild(parent, focus))) form_.ShowDefaultButton(focus);
}

Label::Label(Form& form, int id, std::wstring caption, TwipsRect position, const Frame* frame, bool visible)
    : Control(form, id, {L"STATIC", SS_LEFT | SS_NOPREFIX, 0}, std::move(caption), position, frame) {
  SetInitiallyVisible(visible);
}

Frame::Frame(Form& form, int id, std::wstring caption, TwipsRect position)
    : Control(form, id, {L"BUTTON", BS_GROUPBOX, 0}, std::move(caption), position, nullptr) {}

Button::Button(Form& form, int id, std::wstring caption, TwipsRect position)
    : Control(form, id, {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0}, std::move(caption), position, nullptr) {}

void Button::OnCommand(int notification) {
  if (notification == BN_CLICKED && on_click_) on_click_();
}

void Button::AfterCreate() {
  Comctl32().SetWindowSubclass(hwnd_, &Button::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void Button::BeforeDestroy() { Comctl32().RemoveWindowSubclass(hwnd_, &Button::SubclassProc, 1); }

LRESULT CALLBACK Button::SubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  // However the focus comes (Tab, a click, the form restoring it), the look follows.
  const LRESULT result = Comctl32().DefSubclassProc(hwnd, message, wparam, lparam);
  if (message == WM_SETFOCUS) reinterpret_cast<const Button*>(data)->FocusMoved(hwnd);
  if (message == WM_KILLFOCUS) reinterpret_cast<const Button*>(data)->FocusMoved(reinterpret_cast<HWND>(wparam));
  return result;
}

OptionButton::OptionButton(Form& form, int id, std::wstring caption, TwipsRect position, const Frame& frame,
                           bool selected_at_start)
    : Control(form, id, {L"BUTTON", BS_AUTORADIOBUTTON, 0}, std::move(caption), position, &frame),
      selected_at_start_(selected_at_start) {}

bool OptionButton::Value() const { return hwnd_ && ::SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void OptionButton::SetValue(bool selected) {
  if (!hwnd_) return;
  if (selected) {
    // Clicking keeps the group exclusive, exactly as the user's own click would.
    ::SendMessageW(hwnd_, BM_CLICK, 0, 0);
  } else {
    ::SendMessageW(hwnd_, BM_SETCHECK, BST_UNCHECKED, 0);
  }
}

void OptionButton::AfterCreate() {
  if (selected_at_start_) ::SendMessageW(hwnd_, BM_SETCHECK, BST_CHECKED, 0);
}

TextBox::TextBox(Form& form, int id, std::wstring text, TwipsRect position, const Frame* frame)
    : Control(form, id, {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE}, std::move(text), position,
              frame) {}

void TextBox::SetText(std::wstring_view text) {
  if (!hwnd_) return;
  // The edit control's own notification is not relied on for program writes: the
  // change is raised here, once, whether or not the text differs.
  ++writing_;
  WriteText(text);
  --writing_;
  RaiseChange();
}

void TextBox::Focus() const {
  if (hwnd_) ::SetFocus(hwnd_);
}

void TextBox::OnCommand(int notification) {
  if (notification == EN_CHANGE && writing_ == 0) RaiseChange();
}

void TextBox::RaiseChange() {
  if (on_change_) on_change_();
}

void TextBox::AfterCreate() {
  Comctl32().SetWindowSubclass(hwnd_, &TextBox::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  // Without an input context of its own the field has no input method (a null context
  // "removes any association the window may have with an input context": the earlier
  // pages of ImmAssociateContext, and of IActiveIMMApp::AssociateContext, which maps to
  // it): a Chinese one would otherwise compose text, full-width digits among it, and hand
  // it over whole.
  if (number_field_) (void)::ImmAssociateContext(hwnd_, nullptr);
}

void TextBox::BeforeDestroy() { Comctl32().RemoveWindowSubclass(hwnd_, &TextBox::SubclassProc, 1); }

LRESULT CALLBACK TextBox::SubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                       DWORD_PTR data) {
  // What an input method composes comes as WM_IME_CHAR (the same as WM_CHAR for a
  // Unicode window, its page says), and passes the same rule.
  if (message == WM_CHAR || message == WM_IME_CHAR) {
    auto* self = reinterpret_cast<TextBox*>(data);
    wchar_t code = static_cast<wchar_t>(wparam);
    if (self->on_key_press_) self->on_key_press_(code);
    if (code == 0) return 0;
    wparam = code;
  }
  return Comctl32().DefSubclassProc(hwnd, message, wparam, lparam);
}

PictureBox::PictureBox(Form& form, int id, int bitmap_resource, TwipsRect position, std::wstring name)
    : Control(form, id, {L"STATIC", SS_OWNERDRAW, 0}, std::move(name), position, nullptr),
      bitmap_resource_(bitmap_resource) {}

}  // namespace toolkit
