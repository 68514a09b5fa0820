// Starting Windows' own programs (cmd.exe, shutdown.exe, explorer.exe) with a command
// line, without waiting for them, and learning later how one ended.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "toolkit/handles.h"
#include "toolkit/program_search.h"

namespace toolkit {

// Watches a started program for its end without blocking any thread of ours: when it
// ends, a thread of the system's pool posts `message` to `window`, with the exit code as
// wParam and the watch's Id() as lParam. The watch owns the process handle. Dropping it
// ends the wait first (waiting for a notice being posted at that very moment), then
// closes the handle, so a watch dropped before the program ended posts nothing later.
// It can also tell, once, that the program is still running some time after its start.
class ExitWatch {
 public:
  // Watches nothing and posts nothing; what a launcher that starts nothing hands out.
  explicit ExitWatch(DWORD id = 0) noexcept : id_(id) {}
  // Takes the process handle. Without a window, or when the wait cannot be set up, the
  // handle is closed at once and nothing is ever posted.
  ExitWatch(UniqueKernelHandle process, DWORD id, HWND window, UINT message);
  ~ExitWatch() { Stop(); }

  ExitWatch(const ExitWatch&) = delete;
  ExitWatch& operator=(const ExitWatch&) = delete;
  ExitWatch(ExitWatch&& other) noexcept = default;
  ExitWatch& operator=(ExitWatch&& other) noexcept;

  // The process id for a started program: unique while the watch holds its handle.
  [[nodiscard]] DWORD Id() const noexcept { return id_; }
  [[nodiscard]] bool Watching() const noexcept { return static_cast<bool>(wait_); }

  // Posts `message` to the watch's window once, with 0 as wParam and Id() as lParam, if
  // the program is still running `patience` from now; nothing if it ends before, or if
  // the watch watches nothing. A later end is posted as usual. Asked again, the earlier
  // request is dropped.
  void TellIfStillRunning(std::chrono::milliseconds patience, UINT message);

 private:
  // What the pool's threads read; it stays put while the watch itself moves.
  struct Notice {
    HANDLE process;
    HWND window;
    UINT message;
    DWORD id;
    UINT still_running_message = 0;
  };
  static void CALLBACK Ended(void* notice, BOOLEAN timed_out);
  static void CALLBACK Waited(void* notice, BOOLEAN timed_out);
  void Stop() noexcept;  // the waits, then the notice, then the handle

  UniqueKernelHandle process_;
  std::unique_ptr<Notice> notice_;
  UniqueWait wait_;
  UniqueWait patience_wait_;
  DWORD id_ = 0;
};

// A command for cmd.exe and, where Windows will not run cmd.exe, the same command
// without it (empty: none). The second is started instead, and only, where the command
// prompt is disabled by policy or a policy refuses to start cmd.exe.
struct Command {
  std::wstring_view line;
  std::wstring_view without_cmd = {};
};

// A watched command as started: its watch, and the program that runs it ("cmd.exe").
struct StartedCommand {
  ExitWatch watch;
  std::wstring program;
};

// The seam through which the windows start programs; tests put a recorder here.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Returns false when the program could not be started.
  virtual bool Launch(std::wstring_view command_line, int show_style) = 0;
  // Launch, and its end is posted to `window` as `message` (see ExitWatch) for as long as
  // the returned watch is kept. Nothing when the program could not be started.
  [[nodiscard]] virtual std::optional<StartedCommand> LaunchWatched(const Command& command, int show_style, HWND window,
                                                                    UINT message) = 0;
};

// How a program is started: CreateProcessW, given the arguments that vary. Returns 0 when
// the program started (`info` then holds its handles), else the error it failed with.
using ProcessStart = std::function<DWORD(const wchar_t* program, wchar_t* command_line, const wchar_t* folder,
                                         STARTUPINFOW& startup, PROCESS_INFORMATION& info)>;

// Starts the program a command line names from the folder where Windows keeps it (see
// program_search.h), in the system folder. Launch closes the process and thread handles
// at once; LaunchWatched hands the process handle to its watch. Any other program is
// refused.
class ProcessLauncher final : public Launcher {
 public:
  // Windows' own folders.
  ProcessLauncher();
  // Other folders standing in for Windows' own, so tests start stand-ins, never Windows'
  // programs; and, for tests, another way of starting them (none: CreateProcessW).
  explicit ProcessLauncher(WindowsFolders folders, ProcessStart start = {});

  bool Launch(std::wstring_view command_line, int show_style) override;
  [[nodiscard]] std::optional<StartedCommand> LaunchWatched(const Command& command, int show_style, HWND window,
                                                            UINT message) override;

  // The full path Launch would start for this command line, or empty.
  [[nodiscard]] std::wstring ProgramPath(std::wstring_view command_line) const;

 private:
  // A program started (its process handle and id), or the error that kept it from it.
  struct Attempt {
    UniqueKernelHandle process;
    DWORD id = 0;
    DWORD error = 0;
  };
  [[nodiscard]] Attempt Start(std::wstring_view command_line, int show_style);

  WindowsFolders folders_;
  ProcessStart start_;
};

}  // namespace toolkit
