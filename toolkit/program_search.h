// Where a launched program is looked for. The order is the system's usual one (the
// program's own folder, the system folders, then PATH) with one deliberate omission:
// the current directory, and PATH entries relative to it, are never searched, so a
// cmd.exe or explorer.exe planted in a download folder is not picked up.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

// The program named by a command line: its first token, unquoted.
[[nodiscard]] std::wstring ProgramOfCommandLine(std::wstring_view command_line);

[[nodiscard]] bool IsAbsolutePath(std::wstring_view path) noexcept;

struct SearchFolders {
  std::wstring program_folder;
  std::wstring system_folder;   // ...\System32
  std::wstring windows_folder;  // ...\Windows
  std::wstring path_variable;   // the PATH environment variable, ';'-separated
};

// The folders to look in, in order, each once; relative entries are dropped.
[[nodiscard]] std::vector<std::wstring> SearchOrder(const SearchFolders& folders);

[[nodiscard]] std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

}  // namespace toolkit
