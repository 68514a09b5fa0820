#include "main_window/commands.h"

#include "adverts/advert_text.h"

namespace main_window {
namespace {

// ERROR_ACCESS_DENIED: the account lacks the right to shut the computer down.
constexpr std::uint32_t kAccessDenied = 5;
// ERROR_SHUTDOWN_IN_PROGRESS: Windows is shutting down or restarting already.
constexpr std::uint32_t kShutdownInProgress = 1115;
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

std::wstring_view ShutdownExeCommandLine(PowerMode mode) noexcept {
  return mode == PowerMode::Shutdown ? L"shutdown.exe -s -t 3" : L"shutdown.exe -r -t 3";
}

const wchar_t* SleepHoldReason(PowerMode mode) noexcept {
  return mode == PowerMode::Shutdown ? L"倒计时结束后关机" : L"倒计时结束后重启";
}

std::wstring_view WarningText(PowerMode mode) noexcept {
  if (mode == PowerMode::Shutdown)
    return L"计算机将在 60 秒后关机，所有程序都会被关闭，未保存的内容将会丢失。"
           L"要停止，请点击本通知或双击通知区域中的图标打开窗口，然后关闭窗口。";
  return L"计算机将在 60 秒后重启，所有程序都会被关闭，未保存的内容将会丢失。"
         L"要停止，请点击本通知或双击通知区域中的图标打开窗口，然后关闭窗口。";
}

std::wstring RefusalText(PowerMode mode, std::wstring_view program, std::uint32_t exit_code) {
  const bool shutdown = mode == PowerMode::Shutdown;
  const std::wstring refused = shutdown ? L"Windows 没有接受关机命令" : L"Windows 没有接受重启命令";
  const std::wstring code = L"（" + std::wstring(program) + L"，代码 " + CodeText(exit_code) + L"）";
  if (exit_code == kShutdownIsScheduled) return refused + L"：已有一次关机或重启在计划中" + code + L"。";
  if (exit_code == kShutdownInProgress) return refused + L"：关机或重启已经在进行中" + code + L"。";
  if (exit_code == kAccessDenied)
    return refused + (shutdown ? L"：此帐户无权关闭这台计算机" : L"：此帐户无权重启这台计算机") +
           L"；在受管理的计算机上，这由管理员决定" + code + L"。";
  return refused + code + (shutdown ? L"，计算机不会关机。" : L"，计算机不会重启。");
}

std::wstring StillRunningText(PowerMode mode, std::wstring_view program) {
  const bool shutdown = mode == PowerMode::Shutdown;
  return std::wstring(shutdown ? L"关机命令（" : L"重启命令（") + std::wstring(program) +
         (shutdown ? L"）没有运行完毕，计算机可能不会关机。" : L"）没有运行完毕，计算机可能不会重启。") +
         L"这台计算机可能禁止运行命令，例如由管理员禁止。";
}

std::wstring BrowserCommandLine(std::wstring_view host) { return L"explorer.exe " + adverts::PublisherUrl(host); }

}  // namespace main_window
