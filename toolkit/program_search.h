// Which program a launch starts, and from where. Only Windows' own programs are ever
// started, and only from the folders where Windows keeps them: cmd.exe from the system
// folder, explorer.exe from the Windows folder. Nothing else is searched: not the
// program's own folder, not the current directory, not PATH, so a cmd.exe or
// explorer.exe planted beside the program (in a download folder, say) is never run.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// The full path of the program a command line starts: cmd.exe in the native system
// folder (the system folder, unless one is given), explorer.exe in the Windows folder.
// Empty for any other program, for a name that carries a folder of its own, and when
// the folder is not an absolute path.
[[nodiscard]] std::wstring WindowsProgramPath(std::wstring_view command_line, const WindowsFolders& folders);

}  // namespace toolkit
