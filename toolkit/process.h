// Starting Windows' own programs (cmd.exe, explorer.exe) with a command line, without
// waiting for them.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/program_search.h"

namespace toolkit {

// The seam through which the windows start programs; tests put a recorder here.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Returns false when the program could not be started.
  virtual bool Launch(std::wstring_view command_line, int show_style) = 0;
};

// Starts the program a command line names from the folder where Windows keeps it (see
// program_search.h), in the system folder, and closes the process and thread handles
// at once. Any other program is refused.
class ProcessLauncher final : public Launcher {
 public:
  // Windows' own folders.
  ProcessLauncher();
  // Other folders standing in for Windows' own, so tests start stand-ins, never Windows'
  // programs.
  explicit ProcessLauncher(WindowsFolders folders);

  bool Launch(std::wstring_view command_line, int show_style) override;

  // The full path Launch would start for this command line, or empty.
  [[nodiscard]] std::wstring ProgramPath(std::wstring_view command_line) const;

 private:
  WindowsFolders folders_;
};

}  // namespace toolkit
