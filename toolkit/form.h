// A top-level window in the style the program is written in: a form with controls,
// timers and named event handlers. A form is created on its first Show, runs its
// Form_Load before it becomes visible, and on Unload runs Form_Unload and is
// destroyed; a later Show creates it afresh in its initial state.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/geometry.h"
#include "toolkit/handles.h"
#include "toolkit/timer.h"

namespace toolkit {

enum class Border { None, FixedSingle };

struct FormOptions {
  std::wstring caption;
  Border border = Border::FixedSingle;
  int client_width_twips = 0;
  int client_height_twips = 0;
  bool minimize_box = false;
  int icon = 0;               // resource id of the window's icon, or 0
  int background_bitmap = 0;  // resource id of a picture drawn at the top left, or 0
  int cursor = 0;             // resource id of the cursor over the form's own surface, or 0
  // Enter and Esc, as in a dialog box: the button that Enter presses while the focus is
  // not on a push button, and the one that Esc presses; 0 for none.
  int default_button = 0;
  int cancel_button = 0;
};

// Whether Windows' high-contrast mode is on: the system's answer, unless a test stands
// in for the switch that Wine lacks.
using HighContrastQuery = bool (*)();
extern HighContrastQuery high_contrast_query;

// Where a form's taskbar button is flashed: Windows' own function, unless a test stands
// in to see it, which Wine does not show.
using FlashFunction = BOOL(WINAPI*)(PFLASHWINFO);
extern FlashFunction flash_window;

class Form {
 public:
  explicit Form(FormOptions options);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Creates (running Form_Load) if needed, then shows and activates the window; while a
  // box of its own holds the input, the box comes to the front in its place.
  void Show();
  void Hide();
  // Shows a loaded window, restored if minimised, without taking the focus from the
  // program the user works in, and above the other windows where Windows allows it.
  void ShowWithoutActivating();
  // Flashes the window's taskbar button until the window comes to the front, unless it
  // is there already and not minimised: Windows keeps the foreground for the program
  // the user works in.
  void FlashUntilInFront() const;
  // Runs Form_Unload, then destroys the window with its controls and timers.
  void Unload();

  [[nodiscard]] bool IsLoaded() const noexcept { return hwnd_ != nullptr; }
  [[nodiscard]] bool IsVisible() const noexcept;
  [[nodiscard]] HWND hwnd() const noexcept { return hwnd_; }
  [[nodiscard]] int Dpi() const noexcept { return dpi_; }
  [[nodiscard]] std::wstring Caption() const { return options_.caption; }
  [[nodiscard]] HICON Icon() const noexcept { return big_icon_; }
  [[nodiscard]] HICON SmallIcon() const noexcept { return small_icon_; }

  // Lets the keyboard work in every form as in a dialog box: Tab, the arrows between
  // options, Enter and Esc.
  static bool PreTranslate(MSG& message);
  // Whether the thread's message loop ends when the last form closes (the program's), and
  // what is done, once, as soon as that end is decided: when the close of the last form
  // that is not closing already begins, before its Form_Unload.
  static void SetQuitWhenLastClosed(bool quit, std::function<void()> on_end_decided = {});
  [[nodiscard]] static int LiveForms() noexcept;

 protected:
  virtual void Form_Load() {}
  virtual void Form_Unload() {}
  // Mouse moves over the form's own surface: VB-style button and shift masks, twips.
  virtual void Form_MouseMove(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  // Messages the form does not handle itself (a registered shell message, say).
  virtual std::optional<LRESULT> OnOtherMessage(UINT, WPARAM, LPARAM) { return std::nullopt; }
  // After the window moved to a monitor of another DPI and was laid out again.
  virtual void AfterDpiChange() {}
  // The raw mouse-move message, before it is turned into Form_MouseMove.
  virtual bool OnRawMouseMove(WPARAM, LPARAM) { return false; }

 private:
  friend class Control;
  friend class Timer;

  static std::vector<Form*>& LiveFormList() noexcept;
  [[nodiscard]] static Form* LiveForm(HWND root) noexcept;  // the live form of that window, or none
  static void InstallKeyFilter();
  static LRESULT CALLBACK FilterBoxKeys(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void Create();
  void CreateControls();
  void LayOut();
  void LoadDpiResources();
  void Centre();
  void CentreIn(const RECT& work);
  void BringOntoAMonitor();
  void FitClientArea();
  [[nodiscard]] SIZE WindowSizeForClient(int dpi) const;
  [[nodiscard]] RECT PixelRect(const TwipsRect& twips) const;
  [[nodiscard]] RECT ControlRect(const Control& control) const;
  [[nodiscard]] Control* FindControl(HWND control) const;
  [[nodiscard]] HFONT FontFor(const Control& control) const;
  void SetFont(const Control& control, bool redraw) const;

  void OnCommand(WPARAM wparam, LPARAM lparam);
  void OnDialogKey(int command);
  void ShowDefaultButton(HWND focus);
  LRESULT OnCtlColor(HDC dc, HWND control);
  void OnSettingChange();
  void OnTimer(UINT_PTR id);
  bool OnSetCursor(HWND over, UINT hit_test);
  bool OnGetDpiScaledSize(int dpi, SIZE& size) const;
  void OnDpiChanged(int dpi, const RECT& suggested);
  void OnEraseBackground(HDC dc);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnActivate(bool active);
  void RestoreFocus();  // to the control that last had it, else the first in tab order
  void OnMouseMove(WPARAM wparam, LPARAM lparam);
  void OnNcDestroy();

  FormOptions options_;
  std::vector<Control*> controls_;
  std::vector<Timer*> timers_;
  UniqueWindow window_;
  HWND hwnd_ = nullptr;
  int dpi_ = kDefaultDpi;
  bool unloading_ = false;
  HWND last_focus_ = nullptr;
  bool high_contrast_ = false;  // as last read, so a change is noticed
  // The program's shared icons for the current DPI (see SharedIcon); never freed while
  // the window may show them.
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  UniqueCursor cursor_;
  // The pictures live while the window does: made when it is created, freed once it
  // and its controls are gone.
  UniqueBitmap background_;
  std::vector<std::pair<int, UniqueBitmap>> pictures_;
};

// Draws a picture scaled into a rectangle, smoothly.
void DrawPicture(HDC dc, HBITMAP picture, const RECT& into);

}  // namespace toolkit
