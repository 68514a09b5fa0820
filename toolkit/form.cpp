#include "toolkit/form.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "toolkit/common_controls.h"
#include "toolkit/dpi.h"
#include "toolkit/newer_windows.h"
#include "toolkit/picture.h"

namespace toolkit {
namespace {

constexpr wchar_t kFormClass[] = L"MorvaneForm";
// Constant-initialised, so no function-local statics with their guards and locks:
// forms live on the user-interface thread only.
std::vector<Form*> live_forms;

bool& QuitWhenLastClosed() {
  static bool quit = false;
  return quit;
}
std::function<void()> on_end_decided;

// Runs what the program does once its end is decided, once.
void EndDecided() {
  if (auto act = std::exchange(on_end_decided, {})) act();
}

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

DWORD FormStyle(const FormOptions& options) {
  if (options.border == Border::None) return WS_POPUP;
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  if (options.minimize_box) style |= WS_MINIMIZEBOX;
  return style;
}

UniqueBitmap LoadPicture(int resource) { return toolkit::LoadPicture(Instance(), resource); }

// Where the file has no image of the size (20 px at 125 %), comctl32's
// LoadIconWithScaleDown makes it from a larger one; LoadImage would blow the 16 px one
// up.
HICON LoadIconAtSize(int resource, int width, int height) {
  const auto scale_down = Comctl32().LoadIconWithScaleDown;
  HICON icon = nullptr;
  if (scale_down && SUCCEEDED(scale_down(Instance(), MAKEINTRESOURCEW(resource), width, height, &icon))) return icon;
  return static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(resource), IMAGE_ICON, width, height, 0));
}

// The program's one copy of an icon at a size, loaded on first use and kept for the
// rest of the run. Windows opened again and again (About) reuse it rather than load
// it anew each time: under Wine every icon loaded and destroyed leaves memory behind.
struct LoadedIcon {
  int resource, width, height;
  UniqueIcon icon;
};
std::vector<LoadedIcon> loaded_icons;

HICON SharedIcon(int resource, int width, int height) {
  std::vector<LoadedIcon>& loaded = loaded_icons;
  for (const LoadedIcon& l : loaded)
    if (l.resource == resource && l.width == width && l.height == height) return l.icon.get();
  UniqueIcon icon(LoadIconAtSize(resource, width, height));
  if (!icon) return nullptr;
  loaded.push_back({resource, width, height, std::move(icon)});
  return loaded.back().icon.get();
}

bool SystemHighContrast() {
  HIGHCONTRASTW setting{};
  setting.cbSize = sizeof setting;
  return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
         (setting.dwFlags & HCF_HIGHCONTRASTON);
}

bool IsButton(const Control* control) { return dynamic_cast<const Button*>(control) != nullptr; }

SIZE PictureSize(HBITMAP picture) {
  BITMAP info{};
  if (!picture || !::GetObjectW(picture, sizeof info, &info)) return {0, 0};
  // A top-down DIB section's height may come back negative: GetObject's page says nothing.
  return {info.bmWidth, std::abs(info.bmHeight)};
}

}  // namespace

HighContrastQuery high_contrast_query = &SystemHighContrast;
FlashFunction flash_window = &::FlashWindowEx;

// ---- Form: life cycle ----------------------------------------------------------------

Form::Form(FormOptions options) : options_(std::move(options)) {}

Form::~Form() {
  if (hwnd_) {
    // The derived form is gone already: detach before destroying so no handler runs.
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    HWND hwnd = hwnd_;
    OnNcDestroy();
    ::DestroyWindow(hwnd);
  }
}

std::vector<Form*>& Form::LiveFormList() noexcept { return live_forms; }

void Form::SetQuitWhenLastClosed(bool quit, std::function<void()> act) {
  QuitWhenLastClosed() = quit;
  on_end_decided = std::move(act);
}

int Form::LiveForms() noexcept { return static_cast<int>(LiveFormList().size()); }

bool Form::IsVisible() const noexcept { return hwnd_ && ::IsWindowVisible(hwnd_); }

void Form::Show() {
  if (!hwnd_) {
    Create();
    if (!hwnd_) return;
    Form_Load();
    if (!hwnd_) return;  // the load may have unloaded the form
  }
  if (!::IsWindowEnabled(hwnd_)) {
    // A box of the form's holds the input, and the form in front would take no key: the
    // form comes back with it, and the box, the popup it owns that was active last, takes
    // the foreground, where its keys work.
    ShowWithoutActivating();  // on a screen, above the others
    ::SetForegroundWindow(::GetLastActivePopup(hwnd_));
    return;
  }
  BringOntoAMonitor();  // before it shows, so that it never shows off every screen
  ::ShowWindow(hwnd_, ::IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  BringOntoAMonitor();  // a minimised one, where its restore put it
  ::SetForegroundWindow(hwnd_);
  HWND focus = ::GetFocus();
  if (!focus || !::IsChild(hwnd_, focus)) RestoreFocus();
}

void Form::Hide() {
  if (hwnd_) ::ShowWindow(hwnd_, SW_HIDE);
}

void Form::ShowWithoutActivating() {
  if (!hwnd_) return;
  BringOntoAMonitor();
  ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  BringOntoAMonitor();  // a minimised one, where its restore put it
  // Shown again, a hidden or minimised window keeps its old place in the z-order, below
  // every window used since. SetWindowPos moves it to the top only for a process that may
  // set the foreground window (its Remarks); for any other the window stays where it
  // was, and the caller's flashing taskbar button is what asks for a look.
  ::SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Form::FlashUntilInFront() const {
  if (!hwnd_ || (::GetForegroundWindow() == hwnd_ && !::IsIconic(hwnd_))) return;
  FLASHWINFO flash{};
  flash.cbSize = sizeof flash;
  flash.hwnd = hwnd_;
  flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;  // until it comes to the foreground
  flash_window(&flash);
}

void Form::Unload() {
  if (!hwnd_ || unloading_) return;
  unloading_ = true;
  const auto& live = LiveFormList();
  if (QuitWhenLastClosed() &&
      std::all_of(live.begin(), live.end(), [](const Form* form) { return form->unloading_; }))
    EndDecided();
  Form_Unload();
  unloading_ = false;
  window_.reset();
}

void Form::Create() {
  // Registered on the first form's creation (user-interface thread only).
  static ATOM registered = 0;
  if (!registered) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &Form::WindowProc;
    window_class.hInstance = Instance();
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kFormClass;
    registered = ::RegisterClassExW(&window_class);
    InstallKeyFilter();
  }
  if (!registered) return;

  // Made at the origin, which is on the primary monitor, then sized and centred there.
  ::CreateWindowExW(0, kFormClass, options_.caption.c_str(), FormStyle(options_), 0, 0, 0, 0, nullptr, nullptr,
                    Instance(), this);
  if (!hwnd_) return;
  dpi_ = WindowDpi(hwnd_);
  high_contrast_ = high_contrast_query();
  LoadDpiResources();
  CreateControls();
  Centre();
  for (Timer* timer : timers_) timer->Reset();
}

void Form::CreateControls() {
  const Control* previous = nullptr;
  for (Control* control : controls_) {
    DWORD style = WS_CHILD | control->kind_.style;
    if (control->initially_visible_) style |= WS_VISIBLE;
    const bool joins_group = dynamic_cast<const OptionButton*>(control) &&
                             dynamic_cast<const OptionButton*>(previous) && previous->frame_ == control->frame_;
    if (joins_group) {
      style &= ~static_cast<DWORD>(WS_TABSTOP);
    } else {
      style |= WS_GROUP;
      if (dynamic_cast<const OptionButton*>(control)) style |= WS_TABSTOP;
    }
    if (control->bottom_most_) style |= WS_CLIPSIBLINGS;
    if (IsButton(control) && control->id_ == options_.default_button) style |= BS_DEFPUSHBUTTON;
    const RECT r = ControlRect(*control);
    control->hwnd_ =
        ::CreateWindowExW(control->kind_.ex_style, control->kind_.window_class, control->initial_caption_.c_str(),
                          style, r.left, r.top, r.right - r.left, r.bottom - r.top, hwnd_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(control->id_)), Instance(), nullptr);
    if (!control->hwnd_) continue;
    SetFont(*control, false);
    if (control->bottom_most_)
      ::SetWindowPos(control->hwnd_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    control->AfterCreate();
    previous = control;
  }
}

// ---- Form: geometry and DPI ----------------------------------------------------------

RECT Form::PixelRect(const TwipsRect& twips) const {
  const int left = TwipsToPixels(twips.left, dpi_);
  const int top = TwipsToPixels(twips.top, dpi_);
  return {left, top, left + TwipsToPixels(twips.width, dpi_), top + TwipsToPixels(twips.height, dpi_)};
}

RECT Form::ControlRect(const Control& control) const {
  RECT r = PixelRect(control.FormPosition());
  if (!control.auto_size_) return r;
  // Measured in the font the control will draw with, at this DPI.
  HDC dc = ::GetDC(hwnd_);
  if (!dc) return r;
  const HGDIOBJ old = ::SelectObject(dc, FontFor(control));
  const std::wstring text = control.Text();
  SIZE extent{};
  const BOOL measured = ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(hwnd_, dc);
  if (measured) r.right = std::max(r.right, static_cast<LONG>(r.left + extent.cx + 1));
  return r;
}

SIZE Form::WindowSizeForClient(int dpi) const {
  RECT r{0, 0, TwipsToPixels(options_.client_width_twips, dpi), TwipsToPixels(options_.client_height_twips, dpi)};
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  AdjustWindowRectForDpi(r, style, ex_style, dpi);
  return {r.right - r.left, r.bottom - r.top};
}

void Form::Centre() {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  CentreIn(monitor.rcWork);
}

void Form::CentreIn(const RECT& work) {
  const SIZE size = WindowSizeForClient(dpi_);
  const int x = work.left + (work.right - work.left - size.cx) / 2;
  const int y = work.top + (work.bottom - work.top - size.cy) / 2;
  ::SetWindowPos(hwnd_, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea();
}

// A window hidden on a monitor that has gone since (a laptop undocked or closed, a
// monitor unplugged) would come back where no one sees it, its close box out of reach.
// So a window that meets no work area of the monitor it is most on (or, on none, the
// nearest) is centred on that work area first. A minimised one is seen to once restored.
void Form::BringOntoAMonitor() {
  RECT window{};
  if (!hwnd_ || ::IsIconic(hwnd_) || !::GetWindowRect(hwnd_, &window)) return;
  // The monitor the window is most on, else the nearest: where none is met, it is that
  // monitor's work area the window comes back to.
  MONITORINFO nearest{};
  nearest.cbSize = sizeof nearest;
  RECT common{};
  if (!::GetMonitorInfoW(::MonitorFromRect(&window, MONITOR_DEFAULTTONEAREST), &nearest) ||
      ::IntersectRect(&common, &window, &nearest.rcWork))
    return;
  const int old_dpi = dpi_;
  CentreIn(nearest.rcWork);
  // Moved to a monitor of another scale, a per-monitor-aware window is told its new DPI
  // (WM_DPICHANGED, during the move), but a hidden one may not be: its DPI, now that of
  // the monitor it is on, is read, and the window laid out at it. Either way it is then
  // centred again at its new size.
  const int dpi = WindowDpi(hwnd_);
  if (dpi != dpi_) OnDpiChanged(dpi, nearest.rcWork);
  if (dpi_ != old_dpi) CentreIn(nearest.rcWork);
}

void Form::FitClientArea() {
  // The frame the system really draws can differ from what it predicts for a DPI (Wine
  // draws it at the system DPI), so the window is corrected until the client fits.
  const int width = TwipsToPixels(options_.client_width_twips, dpi_);
  const int height = TwipsToPixels(options_.client_height_twips, dpi_);
  RECT client{};
  RECT window{};
  ::GetClientRect(hwnd_, &client);
  ::GetWindowRect(hwnd_, &window);
  const int extra_x = width - (client.right - client.left);
  const int extra_y = height - (client.bottom - client.top);
  if (extra_x == 0 && extra_y == 0) return;
  ::SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + extra_x, window.bottom - window.top + extra_y,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void Form::LoadDpiResources() {
  if (options_.icon) {
    big_icon_ = SharedIcon(options_.icon, SystemMetricForDpi(SM_CXICON, dpi_), SystemMetricForDpi(SM_CYICON, dpi_));
    small_icon_ =
        SharedIcon(options_.icon, SystemMetricForDpi(SM_CXSMICON, dpi_), SystemMetricForDpi(SM_CYSMICON, dpi_));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  }
  if (options_.cursor && !cursor_) {
    cursor_ = UniqueCursor(static_cast<HCURSOR>(
        ::LoadImageW(Instance(), MAKEINTRESOURCEW(options_.cursor), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE)));
  }
  if (options_.background_bitmap && !background_) background_ = LoadPicture(options_.background_bitmap);
  for (Control* control : controls_) {
    if (auto* picture = dynamic_cast<PictureBox*>(control)) {
      const bool loaded = std::any_of(pictures_.begin(), pictures_.end(),
                                      [&](const auto& p) { return p.first == picture->BitmapResource(); });
      if (!loaded) pictures_.emplace_back(picture->BitmapResource(), LoadPicture(picture->BitmapResource()));
    }
  }
}

HFONT Form::FontFor(const Control& control) const {
  // Shared and never freed: after a move to another DPI the controls are given the new
  // fonts while the old ones still exist, so none ever measures with a deleted font.
  return SharedFont(control.font_ ? *control.font_ : DefaultFont(), dpi_);
}

void Form::SetFont(const Control& control, bool redraw) const {
  // Only controls that draw text get a font: under Wine a static control keeps a small
  // record per window once it is given a font and never frees it, so each picture box
  // of a form opened again and again (About) would leave 24 bytes behind every time.
  if (!control.DrawsText()) return;
  ::SendMessageW(control.hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control)), redraw ? TRUE : FALSE);
}

void Form::LayOut() {
  for (Control* control : controls_) {
    if (!control->hwnd_) continue;
    const RECT r = ControlRect(*control);
    ::SetWindowPos(control->hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    SetFont(*control, true);
  }
}

// ---- Form: messages ------------------------------------------------------------------

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Form* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
    self->window_.reset(hwnd);
    LiveFormList().push_back(self);
    // On Windows 10 1607, where the process is per-monitor aware version 1, Windows scales
    // the title bar and frame with the window's DPI only when asked, here, before
    // DefWindowProc has seen the message (EnableNonClientDpiScaling's page). Version 2
    // (1703 and later) scales them unasked, and its windows need not call it, the page
    // says: whatever the call answers there goes unread.
    if (const auto scale_frame = Newer().EnableNonClientDpiScaling) (void)scale_frame(hwnd);
  } else {
    self = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->OnNcDestroy();
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return self->HandleMessage(message, wparam, lparam);
}

LRESULT Form::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(wparam, lparam);
      return 0;
    case DM_GETDEFID:  // asked by the dialog manager on Enter
      return options_.default_button ? MAKELRESULT(options_.default_button, DC_HASDEFID) : 0;
    case WM_CTLCOLORSTATIC:
      return OnCtlColor(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_SETTINGCHANGE:
      OnSettingChange();
      break;
    case WM_TIMER:
      OnTimer(wparam);
      return 0;
    case WM_SETCURSOR:
      if (OnSetCursor(reinterpret_cast<HWND>(wparam), LOWORD(lparam))) return TRUE;
      break;
    case kWmGetDpiScaledSize:
      return OnGetDpiScaledSize(static_cast<int>(wparam), *reinterpret_cast<SIZE*>(lparam)) ? TRUE : FALSE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_ERASEBKGND:
      OnEraseBackground(reinterpret_cast<HDC>(wparam));
      return 1;
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(wparam, lparam);
      return 0;
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_DESTROY:
      for (Control* control : controls_)
        if (control->hwnd_) control->BeforeDestroy();
      return 0;
    default:
      if (auto result = OnOtherMessage(message, wparam, lparam)) return *result;
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

Control* Form::FindControl(HWND control) const {
  if (!control) return nullptr;
  for (Control* c : controls_)
    if (c->hwnd_ == control) return c;
  return nullptr;
}

void Form::OnCommand(WPARAM wparam, LPARAM lparam) {
  if (Control* control = FindControl(reinterpret_cast<HWND>(lparam))) {
    control->OnCommand(HIWORD(wparam));
    return;
  }
  // From no control: the dialog manager's Esc, or its Enter when the form has no
  // default button.
  if (lparam == 0 && HIWORD(wparam) == 0) OnDialogKey(LOWORD(wparam));
}

void Form::OnDialogKey(int command) {
  const int id = command == IDCANCEL ? options_.cancel_button : command == IDOK ? options_.default_button : 0;
  if (id == 0) return;  // Esc in a form without a cancel button does nothing
  for (Control* control : controls_) {
    if (control->id_ == id && control->hwnd_ && ::IsWindowEnabled(control->hwnd_)) {
      control->OnCommand(BN_CLICKED);  // exactly what a click does
      return;
    }
  }
}

void Form::ShowDefaultButton(HWND focus) {
  // As in a dialog box: a push button with the focus is the one Enter presses, and it
  // looks it; otherwise the form's default button does.
  const Control* focused = FindControl(focus);
  if (!IsButton(focused)) focused = nullptr;
  for (const Control* control : controls_) {
    if (!control->hwnd_ || !IsButton(control)) continue;
    const bool is_default = focused ? control == focused : control->id_ == options_.default_button;
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(control->hwnd_, GWL_STYLE));
    if (((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) == is_default) continue;
    const DWORD type = is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    ::SendMessageW(control->hwnd_, BM_SETSTYLE, (style & 0xFFFF & ~static_cast<DWORD>(BS_TYPEMASK)) | type, TRUE);
  }
}

LRESULT Form::OnCtlColor(HDC dc, HWND control_window) {
  const Control* control = FindControl(control_window);
  // Under high contrast the user's colours win: such a label is drawn as any other.
  if (!control || !control->fore_color_ || high_contrast_)
    return ::DefWindowProcW(hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                            reinterpret_cast<LPARAM>(control_window));
  ::SetTextColor(dc, *control->fore_color_);
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  ::SetBkMode(dc, OPAQUE);
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

void Form::OnSettingChange() {
  const bool high_contrast = high_contrast_query();
  if (high_contrast == high_contrast_) return;
  high_contrast_ = high_contrast;
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Form::OnTimer(UINT_PTR id) {
  for (Timer* timer : timers_) {
    if (static_cast<UINT_PTR>(timer->id_) == id) {
      timer->OnPlatformTimer();
      return;
    }
  }
}

bool Form::OnSetCursor(HWND over, UINT hit_test) {
  if (over != hwnd_ || hit_test != HTCLIENT || !cursor_) return false;
  ::SetCursor(cursor_.get());
  return true;
}

bool Form::OnGetDpiScaledSize(int dpi, SIZE& size) const {
  // The client area is fixed in twips, so the window's size at the new DPI is exact.
  // Windows would otherwise scale the whole window, frame included, and be a few pixels
  // off: its suggested rectangle would then not fit, and a window dragged back and forth
  // across monitors would creep away from the pointer.
  if (dpi <= 0) return false;
  size = WindowSizeForClient(dpi);
  return true;
}

void Form::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi > 0 ? dpi : kDefaultDpi;
  LoadDpiResources();
  LayOut();
  const SIZE size = WindowSizeForClient(dpi_);
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea();
  ::InvalidateRect(hwnd_, nullptr, TRUE);
  AfterDpiChange();
}

void Form::OnEraseBackground(HDC dc) {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  if (!background_) return;
  const SIZE size = PictureSize(background_.get());
  // Drawn from the top left at its own size (scaled with the DPI) and clipped to the window.
  DrawPicture(dc, background_.get(), {0, 0, ScalePixels(size.cx, dpi_), ScalePixels(size.cy, dpi_)});
}

void Form::OnDrawItem(const DRAWITEMSTRUCT& item) {
  const auto* picture = dynamic_cast<const PictureBox*>(FindControl(item.hwndItem));
  if (!picture) return;
  ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
  for (const auto& [resource, bitmap] : pictures_) {
    if (resource != picture->BitmapResource() || !bitmap) continue;
    const SIZE size = PictureSize(bitmap.get());
    DrawPicture(item.hDC, bitmap.get(),
                {item.rcItem.left, item.rcItem.top, item.rcItem.left + ScalePixels(size.cx, dpi_),
                 item.rcItem.top + ScalePixels(size.cy, dpi_)});
  }
}

void Form::OnActivate(bool active) {
  // Keep the keyboard focus on the control that had it, as a dialog does.
  if (active) {
    RestoreFocus();
    return;
  }
  HWND focus = ::GetFocus();
  if (focus && ::IsChild(hwnd_, focus)) last_focus_ = focus;
}

void Form::RestoreFocus() {
  HWND target = last_focus_ && ::IsChild(hwnd_, last_focus_) ? last_focus_ : ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (target) ::SetFocus(target);
}

void Form::OnMouseMove(WPARAM wparam, LPARAM lparam) {
  if (OnRawMouseMove(wparam, lparam)) return;
  int button = 0;
  if (wparam & MK_LBUTTON) button |= 1;
  if (wparam & MK_RBUTTON) button |= 2;
  if (wparam & MK_MBUTTON) button |= 4;
  int shift = 0;
  if (wparam & MK_SHIFT) shift |= 1;
  if (wparam & MK_CONTROL) shift |= 2;
  Form_MouseMove(button, shift, PixelsToTwips(GET_X_LPARAM(lparam), dpi_), PixelsToTwips(GET_Y_LPARAM(lparam), dpi_));
}

void Form::OnNcDestroy() {
  (void)window_.release();  // the window is going away by itself
  hwnd_ = nullptr;
  // The controls are gone before their parent's last message, so nothing draws these.
  background_.reset();
  pictures_.clear();
  last_focus_ = nullptr;
  for (Control* control : controls_) control->hwnd_ = nullptr;
  for (Timer* timer : timers_) timer->Reset();
  auto& live = LiveFormList();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  if (!live.empty() || !QuitWhenLastClosed()) return;
  EndDecided();  // where no Unload came first
  ::PostQuitMessage(0);
}

void DrawPicture(HDC dc, HBITMAP picture, const RECT& into) {
  const SIZE size = PictureSize(picture);
  if (size.cx <= 0 || size.cy <= 0) return;
  HDC memory = ::CreateCompatibleDC(dc);
  if (!memory) return;
  HGDIOBJ old = ::SelectObject(memory, picture);
  const int width = into.right - into.left;
  const int height = into.bottom - into.top;
  if (width == size.cx && height == size.cy) {
    ::BitBlt(dc, into.left, into.top, width, height, memory, 0, 0, SRCCOPY);
  } else {
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, into.left, into.top, width, height, memory, 0, 0, size.cx, size.cy, SRCCOPY);
  }
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
}

}  // namespace toolkit
