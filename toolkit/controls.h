// The standard controls a form is built from: labels, frames, buttons, option buttons,
// a single-line text box and a picture box. Each is a real child window of its form,
// so screen readers and UI automation see it and its text. Controls are declared as
// members of their form in tab order; the form creates their windows when it loads.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/fonts.h"
#include "toolkit/geometry.h"

namespace toolkit {

class Form;
class Frame;

class Control {
 public:
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control() = default;

  [[nodiscard]] int id() const noexcept { return id_; }
  // The control's window while its form is loaded, else null. The form's window owns it.
  [[nodiscard]] HWND hwnd() const noexcept { return hwnd_; }

  [[nodiscard]] std::wstring Text() const;
  [[nodiscard]] bool Visible() const;
  void SetVisible(bool visible);

  [[nodiscard]] TwipsRect Position() const noexcept { return position_; }
  // Position in the form's client area, in twips, with any frame's offset applied.
  [[nodiscard]] TwipsRect FormPosition() const noexcept;

  void SetForeColor(COLORREF color) noexcept { fore_color_ = color; }
  [[nodiscard]] std::optional<COLORREF> ForeColor() const noexcept { return fore_color_; }
  void SetFont(FontChoice font) { font_ = std::move(font); }
  [[nodiscard]] const std::optional<FontChoice>& Font() const noexcept { return font_; }
  // Keeps the control below its siblings (a label that a button overlaps).
  void SetBottomMost() noexcept { bottom_most_ = true; }

 protected:
  struct Kind {
    const wchar_t* window_class;
    DWORD style;
    DWORD ex_style;
  };
  Control(Form& form, int id, Kind kind, std::wstring caption, TwipsRect position, const Frame* frame);

  void WriteText(std::wstring_view text);
  [[nodiscard]] Form& form() const noexcept { return form_; }
  // The keyboard focus moved to `focus` (a control of the form, or the form itself).
  void FocusMoved(HWND focus) const;

 private:
  friend class Form;
  virtual void OnCommand(int /*notification*/) {}
  virtual void AfterCreate() {}
  virtual void BeforeDestroy() {}
  // Whether the control draws text and so is given the form's font.
  [[nodiscard]] virtual bool DrawsText() const noexcept { return true; }

  Form& form_;
  int id_;
  Kind kind_;
  std::wstring initial_caption_;
  TwipsRect position_;
  const Frame* frame_;
  bool initially_visible_ = true;
  bool bottom_most_ = false;
  bool auto_size_ = false;
  std::optional<COLORREF> fore_color_;
  std::optional<FontChoice> font_;

 protected:
  HWND hwnd_ = nullptr;  // set and cleared by the form

 private:
  void SetInitiallyVisible(bool visible) noexcept { initially_visible_ = visible; }
  friend class Label;
};

// Static text that wraps in its box and is cut at the bottom. An '&' is shown as it is.
class Label final : public Control {
 public:
  Label(Form& form, int id, std::wstring caption, TwipsRect position, const Frame* frame = nullptr,
        bool visible = true);
  void SetCaption(std::wstring_view caption) { WriteText(caption); }
  // Widens the box, when laid out, to hold its caption on one line in its font at the
  // form's DPI; its left edge, top and height stay as placed.
  void SetAutoSize(bool auto_size) noexcept { auto_size_ = auto_size; }
};

// A group box. Its contents are its siblings, placed relative to its top-left corner.
class Frame final : public Control {
 public:
  Frame(Form& form, int id, std::wstring caption, TwipsRect position);
};

// A push button. While it has the focus it is the one Enter presses, and looks it.
class Button final : public Control {
 public:
  Button(Form& form, int id, std::wstring caption, TwipsRect position);
  void OnClick(std::function<void()> handler) { on_click_ = std::move(handler); }

 private:
  void OnCommand(int notification) override;
  void AfterCreate() override;
  void BeforeDestroy() override;
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  std::function<void()> on_click_;
};

// Option buttons inside one frame exclude each other.
class OptionButton final : public Control {
 public:
  OptionButton(Form& form, int id, std::wstring caption, TwipsRect position, const Frame& frame,
               bool selected_at_start = false);
  [[nodiscard]] bool Value() const;
  void SetValue(bool selected);

 private:
  void AfterCreate() override;
  bool selected_at_start_;
};

// A single-line text box. Every change of its text, typed or written by the program,
// raises the change handler before the change returns; the key-press handler sees each
// typed character first, from the keyboard or an input method, and may discard it by
// setting it to 0.
class TextBox final : public Control {
 public:
  TextBox(Form& form, int id, std::wstring text, TwipsRect position, const Frame* frame = nullptr);
  // A field for numbers: no input method composes text in it, so the keys type what they
  // say (the number row, digits) whatever input method the user has on.
  void SetNumberField() noexcept { number_field_ = true; }
  void SetText(std::wstring_view text);
  void OnChange(std::function<void()> handler) { on_change_ = std::move(handler); }
  void OnKeyPress(std::function<void(wchar_t&)> handler) { on_key_press_ = std::move(handler); }
  void Focus() const;

 private:
  void OnCommand(int notification) override;
  void AfterCreate() override;
  void BeforeDestroy() override;
  void RaiseChange();
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

  std::function<void()> on_change_;
  std::function<void(wchar_t&)> on_key_press_;
  int writing_ = 0;
  bool number_field_ = false;
};

// A picture from the program's resources, drawn into its box (scaled with the DPI).
// Its name is what screen readers say for it; it is never drawn.
class PictureBox final : public Control {
 public:
  PictureBox(Form& form, int id, int bitmap_resource, TwipsRect position, std::wstring name = {});
  [[nodiscard]] int BitmapResource() const noexcept { return bitmap_resource_; }

 private:
  // The form draws the picture; a font would only cost memory (see Form::SetFont).
  [[nodiscard]] bool DrawsText() const noexcept override { return false; }
  int bitmap_resource_;
};

}  // namespace toolkit
