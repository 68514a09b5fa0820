// Which program a launch starts, and from where. Only Windows' own programs are ever
// started, and only from the folders where Windows keeps them: cmd.exe and shutdown.exe
// from the system folder, explorer.exe from the Windows folder. Nothing else is
// searched: not the program's own folder, not the current directory, not PATH, so a
// cmd.exe, shutdown.exe or explorer.exe planted beside the program (in a download
// folder, say) is never run. Also when Windows will not run cmd.exe: a policy that
// disables the command prompt, or refuses to start it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

// The program named by a command line: its first token, unquoted.
[[nodiscard]] std::wstring ProgramOfCommandLine(std::wstring_view command_line);

[[nodiscard]] bool IsAbsolutePath(std::wstring_view path) noexcept;

[[nodiscard]] std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

struct WindowsFolders {
  std::wstring system;   // ...\System32, also the working folder of what is started
  std::wstring windows;  // ...\Windows
  // For a 32-bit program on 64-bit Windows, ...\Windows\Sysnative: the 64-bit system
  // folder, which the file system redirection otherwise hides behind SysWOW64.
  std::optional<std::wstring> native_system = std::nullopt;
};

// The full path of the program a command line starts: cmd.exe and shutdown.exe in the
// native system folder (the system folder, unless one is given), explorer.exe in the
// Windows folder.
// Empty for any other program, for a name that carries a folder of its own, and when
// the folder is not an absolute path.
[[nodiscard]] std::wstring WindowsProgramPath(std::wstring_view command_line, const WindowsFolders& folders);

// A registry value as read: its type (REG_DWORD is 4) and its bytes.
struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// Whether a DisableCMD value ("Prevent access to the command prompt", under
// Software\Policies\Microsoft\Windows\System) keeps cmd.exe from running our command.
// Both of the policy's values, 1 (batch files refused too) and 2 (batch files still
// run), keep users from running cmd.exe, and Microsoft says it is so while the entry is
// there at all: any value but a DWORD 0 counts. None (nullopt) leaves cmd.exe free.
[[nodiscard]] bool DisablesCommandPrompt(const std::optional<RegistryValue>& value) noexcept;

// Whether CreateProcessW's error says that Windows will not start the program itself:
// refused by Software Restriction Policies or AppLocker (1260, and 786 where no notice is
// shown), by Application Control, as in S mode (4551; 577 for a signature it cannot
// verify), or by the file's own access list (5).
[[nodiscard]] bool IsStartRefusedByPolicy(std::uint32_t error) noexcept;

}  // namespace toolkit
