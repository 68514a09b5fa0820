#include "about/about_form.h"

#include "resources/resource.h"

namespace about {
namespace {

toolkit::FormOptions AboutOptions() {
  toolkit::FormOptions options;
  options.caption = L"关于";
  options.border = toolkit::Border::FixedSingle;
  options.client_width_twips = 5460;
  options.client_height_twips = 2535;
  options.icon = IDI_APP;
  options.default_button = kAboutCommand1;  // Enter and Esc both act as 确定
  options.cancel_button = kAboutCommand1;
  return options;
}

constexpr wchar_t kNotice[] =
    L"Morvane关机工具V2014，迎新年版   Core：2.0.0\r\n"
    L"建议与反馈：suggest@morvane.example\r\n"
    L"本软件免费使用；因使用本软件关机或重启造成的数据丢失，作者不承担责任。";

}  // namespace

gy::gy()
    : Form(AboutOptions()),
      Label1(*this, kAboutLabel1, L"Copyright © 2014-2026 Morvane", {120, 2040, 4215, 375}),
      Label2(*this, kAboutLabel2, kNotice, {1920, 120, 3375, 1575}),
      Command1(*this, kAboutCommand1, L"确定", {4320, 1920, 1095, 495}),
      // Named for screen readers after what the emblem stands for.
      Image1(*this, kAboutImage1, IDB_ABOUT, {120, 120, 1725, 1725}, L"Morvane关机") {
  Label2.SetForeColor(RGB(255, 0, 0));
  Label2.SetFont(toolkit::YaHei(9, FW_NORMAL));
  Command1.OnClick([this] { Command1_Click(); });
}

gy::~gy() { Unload(); }

// The title bar's close box ends here too, through Unload.
void gy::Command1_Click() { Unload(); }

}  // namespace about
