#include "main_window/commands.h"

#include "adverts/advert_text.h"

namespace main_window {
namespace {

// ERROR_SHUTDOWN_IS_SCHEDULED: `shutdown` finds one already on its way.
constexpr std::uint32_t kShutdownIsScheduled = 1190;

// Windows' error numbers in decimal, as `shutdown` and the documentation give them;
// status codes with the top bit set (a crashed command) in hexadecimal, as they are known.
std::wstring CodeText(std::uint32_t code) {
  std::wstring text;
  if (code < 0x80000000U) {
    do {
      text.insert(text.begin(), static_cast<wchar_t>(L'0' + code % 10));
      code /= 10;
    } while (code != 0);
    return text;
  }
  text = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += L"0123456789ABCDEF"[(code >> shift) & 0xF];
  return text;
}

}  // namespace

std::wstring_view PowerCommandLine(PowerMode mode) noexcept {
  return mode == PowerMode::Shutdown ? L"cmd.exe /c shutdown -s -t 3" : L"cmd.exe /c shutdown -r -t 3";
}

std::wstring RefusalText(PowerMode mode, std::uint32_t exit_code) {
  const bool shutdown = mode == PowerMode::Shutdown;
  // Windows 没有接受关机命令 / Windows 没有接受重启命令
  const std::wstring refused = shutdown ? L"Windows \u6CA1\u6709\u63A5\u53D7\u5173\u673A\u547D\u4EE4"
                                        : L"Windows \u6CA1\u6709\u63A5\u53D7\u91CD\u542F\u547D\u4EE4";
  const std::wstring code = L"\uFF08\u4EE3\u7801 " + CodeText(exit_code) + L"\uFF09";  // （代码 N）
  if (exit_code == kShutdownIsScheduled) {
    // ：已有一次关机或重启在计划中 ... 。
    return refused + L"\uFF1A\u5DF2\u6709\u4E00\u6B21\u5173\u673A\u6216\u91CD\u542F\u5728\u8BA1\u5212\u4E2D" + code +
           L"\u3002";
  }
  // ，计算机不会关机。 / ，计算机不会重启。
  return refused + code +
         (shutdown ? L"\uFF0C\u8BA1\u7B97\u673A\u4E0D\u4F1A\u5173\u673A\u3002"
                   : L"\uFF0C\u8BA1\u7B97\u673A\u4E0D\u4F1A\u91CD\u542F\u3002");
}

std::wstring BrowserCommandLine(std::wstring_view host) { return L"explorer.exe " + adverts::PublisherUrl(host); }

}  // namespace main_window
