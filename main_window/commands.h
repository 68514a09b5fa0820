// The command lines the main window launches, and what it says when Windows refuses one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace main_window {

enum class PowerMode { Shutdown, Restart };

// Window style of every launched command: minimised, with the focus.
inline constexpr int kLaunchShowStyle = 2;

// "cmd.exe /c shutdown -s -t 3", or -r for a restart: the command, wherever cmd.exe runs.
[[nodiscard]] std::wstring_view PowerCommandLine(PowerMode mode) noexcept;
// The same shutdown with the same switches, started by itself where Windows will not run
// cmd.exe: "shutdown.exe -s -t 3", or -r.
[[nodiscard]] std::wstring_view ShutdownExeCommandLine(PowerMode mode) noexcept;

// Why idle sleep waits while the countdown runs, as `powercfg /requests` shows it.
[[nodiscard]] const wchar_t* SleepHoldReason(PowerMode mode) noexcept;

// The notice a minute before a countdown hidden in the tray ends: what will happen, that
// programs close without saving, and how to stop it.
[[nodiscard]] std::wstring_view WarningText(PowerMode mode) noexcept;
// Told when the power command ran and ended with a non-zero exit code: Windows did not
// accept it, and the computer will not shut down (or restart) because of it. 1190 (a
// shutdown or restart already scheduled), 5 (access denied) and 1115 (a shutdown already
// under way) say why in words of their own. `program` names what ran (cmd.exe or
// shutdown.exe), beside the code.
[[nodiscard]] std::wstring RefusalText(PowerMode mode, std::wstring_view program, std::uint32_t exit_code);
// Told when the power command, run by `program`, is still running long after its start:
// it did not finish, and running commands may be blocked on this computer.
[[nodiscard]] std::wstring StillRunningText(PowerMode mode, std::wstring_view program);

// "explorer.exe" + one space + the address of the publisher's site (host may carry a ":port").
[[nodiscard]] std::wstring BrowserCommandLine(std::wstring_view host);

}  // namespace main_window
