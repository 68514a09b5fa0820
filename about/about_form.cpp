#include "about/about_form.h"

#include "resources/resource.h"

namespace about {
namespace {

toolkit::FormOptions AboutOptions() {
  toolkit::FormOptions options;
  options.caption = L"\u5173\u4E8E";  // 关于
  options.border = toolkit::Border::FixedSingle;
  options.client_width_twips = 5460;
  options.client_height_twips = 2535;
  options.icon = IDI_APP;
  options.default_button = kAboutCommand1;  // Enter and Esc both act as 确定
  options.cancel_button = kAboutCommand1;
  return options;
}

// Morvane关机工具V2014，迎新年版   Core：2.0.0
// 建议与反馈：suggest@morvane.example
// 本软件免费使用；因使用本软件关机或重启造成的数据丢失，作者不承担责任。
constexpr wchar_t kNotice[] =
    L"Morvane\u5173\u673A\u5DE5\u5177V2014\uFF0C\u8FCE\u65B0\u5E74\u7248   Core\uFF1A2.0.0\r\n"
    L"\u5EFA\u8BAE\u4E0E\u53CD\u9988\uFF1Asuggest@morvane.example\r\n"
    L"\u672C\u8F6F\u4EF6\u514D\u8D39\u4F7F\u7528\uFF1B\u56E0\u4F7F\u7528\u672C\u8F6F\u4EF6\u5173\u673A\u6216"
    L"\u91CD\u542F\u9020\u6210\u7684\u6570\u636E\u4E22\u5931\uFF0C\u4F5C\u8005\u4E0D\u627F\u62C5\u8D23\u4EFB"
    L"\u3002";

}  // namespace

gy::gy()
    : Form(AboutOptions()),
      Label1(*this, kAboutLabel1, L"Copyright \u00A9 2014-2026 Morvane", {120, 2040, 4215, 375}),
      Label2(*this, kAboutLabel2, kNotice, {1920, 120, 3375, 1575}),
      Command1(*this, kAboutCommand1, L"\u786E\u5B9A", {4320, 1920, 1095, 495}),  // 确定
      // Named for screen readers after what the emblem stands for: Morvane关机
      Image1(*this, kAboutImage1, IDB_ABOUT, {120, 120, 1725, 1725}, L"Morvane\u5173\u673A") {
  Label2.SetForeColor(RGB(255, 0, 0));
  Label2.SetFont(toolkit::YaHei(9, FW_NORMAL));
  Command1.OnClick([this] { Command1_Click(); });
}

gy::~gy() { Unload(); }

// The title bar's close box ends here too, through Unload.
void gy::Command1_Click() { Unload(); }

}  // namespace about
