#include "toolkit/process.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "toolkit/handles.h"

namespace toolkit {
namespace {

template <typename Getter>
std::wstring ReadFolder(Getter getter) {
  std::wstring buffer(MAX_PATH, L'\0');
  UINT n = getter(buffer.data(), static_cast<UINT>(buffer.size()));
  if (n > buffer.size()) {
    buffer.resize(n);
    n = getter(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  // Zero, or still too long, leaves the folder empty: launches are then refused.
  buffer.resize(n < buffer.size() ? n : 0);
  return buffer;
}

WindowsFolders OwnFolders() {
  WindowsFolders folders;
  folders.system = ReadFolder([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
  // The shared Windows folder: GetWindowsDirectoryW gives a program that is not marked
  // Terminal Server aware a private, per-user folder on a terminal server, which the
  // user can write to.
  folders.windows = ReadFolder([](wchar_t* b, UINT n) { return ::GetSystemWindowsDirectoryW(b, n); });
  return folders;
}

}  // namespace

ProcessLauncher::ProcessLauncher() : folders_(OwnFolders()) {}

ProcessLauncher::ProcessLauncher(WindowsFolders folders) : folders_(std::move(folders)) {}

std::wstring ProcessLauncher::ProgramPath(std::wstring_view command_line) const {
  return WindowsProgramPath(command_line, folders_);
}

bool ProcessLauncher::Launch(std::wstring_view command_line, int show_style) {
  const std::wstring program = ProgramPath(command_line);
  if (program.empty()) return false;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show_style);
  PROCESS_INFORMATION info{};
  // CreateProcessW may write into the command line, so it gets a private copy.
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  // Started in the system folder rather than in ours: cmd.exe looks for "shutdown" in
  // its current folder before PATH, and ours may be a download folder.
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folders_.system.c_str(),
                        &startup, &info))
    return false;
  UniqueKernelHandle process(info.hProcess);
  UniqueKernelHandle thread(info.hThread);
  return true;
}

}  // namespace toolkit
