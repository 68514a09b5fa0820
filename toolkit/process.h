// Starting a command line as a new process, without waiting for it.
#pragma once

#include <string>
#include <string_view>

namespace toolkit {

// The seam through which the windows start programs; tests put a recorder here.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Returns false when the program could not be started; callers may ignore that.
  virtual bool Launch(std::wstring_view command_line, int show_style) = 0;
};

// Finds the program through the safe search order and starts it, closing the
// process and thread handles at once.
class ProcessLauncher final : public Launcher {
 public:
  bool Launch(std::wstring_view command_line, int show_style) override;
};

// The full path of the program a command line names, or empty when none is found.
[[nodiscard]] std::wstring FindProgram(std::wstring_view command_line);

}  // namespace toolkit
