#include "app/splash.h"

#include "resources/resource.h"

namespace app {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

toolkit::FormOptions SplashOptions() {
  toolkit::FormOptions options;
  options.caption = L"loading...";
  options.border = toolkit::Border::None;
  options.client_width_twips = 6090;
  options.client_height_twips = 3465;
  options.icon = IDI_APP;
  options.background_bitmap = IDB_SPLASH;
  return options;
}

}  // namespace

ld::ld(toolkit::Form& main_form)
    : Form(SplashOptions()),
      Label1(*this, kSplashLabel1, L"Morvane关机工具V2014", {0, 3000, 2295, 375}),
      Label2(*this, kSplashLabel2, L"Loading...", {4800, 3120, 1935, 375}),
      Label3(*this, kSplashLabel3,
             L"此加载会使用网络。加载速度不会超过20秒，如果大于20秒。请重启。（本提示在第3秒出现）",
             {0, 120, 5895, 375}, nullptr, false),
      Timer2(*this, kSplashTimer2, 3000, true),
      Timer1(*this, kSplashTimer1, 1000, true),
      main_(main_form) {
  Label1.SetForeColor(kRed);
  Label1.SetFont(toolkit::YaHei(12, FW_BOLD));
  // The title is wider than its box in this font; it is shown whole, on one line.
  Label1.SetAutoSize(true);
  Label2.SetForeColor(kRed);
  Label2.SetFont(toolkit::YaHei(9, FW_BOLD));
  Label3.SetForeColor(kRed);
  Timer1.OnTick([this] { Timer1_Timer(); });
  Timer2.OnTick([this] { Timer2_Timer(); });
}

ld::~ld() { Unload(); }

void ld::Timer1_Timer() {
  if (opening_main_) return;
  opening_main_ = true;
  Timer1.SetEnabled(false);
  main_.Show();  // returns once the main window has loaded and is on the screen
  Unload();
}

void ld::Form_Unload() {
  // Closed while the main window still loads: the opening is called off, so the
  // program ends now instead of waiting on the network.
  if (opening_main_ && !main_.IsVisible()) main_.Unload();
}

void ld::Timer2_Timer() { Label3.SetVisible(true); }

}  // namespace app
