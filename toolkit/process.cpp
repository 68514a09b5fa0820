#include "toolkit/process.h"

#include <windows.h>

#include <algorithm>
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
  // A 32-bit copy on 64-bit Windows starts the same 64-bit cmd.exe as the 64-bit one, so
  // that the shutdown that runs is System32's whatever SysWOW64 holds. Sysnative is
  // a name that 32-bit programs alone see.
  BOOL wow64 = FALSE;
  if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64)
    folders.native_system = folders.windows.empty() ? std::wstring() : JoinPath(folders.windows, L"Sysnative");
  return folders;
}

}  // namespace

ProcessLauncher::ProcessLauncher() : folders_(OwnFolders()) {}

ProcessLauncher::ProcessLauncher(WindowsFolders folders) : folders_(std::move(folders)) {}

std::wstring ProcessLauncher::ProgramPath(std::wstring_view command_line) const {
  return WindowsProgramPath(command_line, folders_);
}

std::optional<std::pair<UniqueKernelHandle, DWORD>> ProcessLauncher::Start(std::wstring_view command_line,
                                                                           int show_style) {
  const std::wstring program = ProgramPath(command_line);
  if (program.empty()) return std::nullopt;

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
    return std::nullopt;
  UniqueKernelHandle thread(info.hThread);
  return std::pair{UniqueKernelHandle(info.hProcess), info.dwProcessId};
}

bool ProcessLauncher::Launch(std::wstring_view command_line, int show_style) {
  return Start(command_line, show_style).has_value();
}

std::optional<ExitWatch> ProcessLauncher::LaunchWatched(std::wstring_view command_line, int show_style, HWND window,
                                                        UINT message) {
  auto started = Start(command_line, show_style);
  if (!started) return std::nullopt;
  return ExitWatch(std::move(started->first), started->second, window, message);
}

// ---- ExitWatch -----------------------------------------------------------------------

ExitWatch::ExitWatch(UniqueKernelHandle process, DWORD id, HWND window, UINT message) : id_(id) {
  if (!process || !window) return;
  notice_ = std::make_unique<Notice>(Notice{process.get(), window, message, id});
  HANDLE wait = nullptr;
  // Once only: an ended process stays signalled, and would call back again and again.
  if (!::RegisterWaitForSingleObject(&wait, process.get(), &ExitWatch::Ended, notice_.get(), INFINITE,
                                     WT_EXECUTEONLYONCE)) {
    notice_.reset();
    return;  // the handle closes on the way out; the program runs on unwatched
  }
  process_ = std::move(process);
  wait_.reset(wait);
}

ExitWatch& ExitWatch::operator=(ExitWatch&& other) noexcept {
  if (this != &other) {
    Stop();
    process_ = std::move(other.process_);
    notice_ = std::move(other.notice_);
    wait_ = std::move(other.wait_);
    patience_wait_ = std::move(other.patience_wait_);
    id_ = other.id_;
  }
  return *this;
}

void ExitWatch::TellIfStillRunning(std::chrono::milliseconds patience, UINT message) {
  patience_wait_.reset();  // waits for a callback under way, which may read the message
  if (!wait_) return;
  notice_->still_running_message = message;
  const auto ms = static_cast<DWORD>(std::clamp<long long>(patience.count(), 0, INFINITE - 1));
  HANDLE wait = nullptr;
  // A second wait on the same handle, with a time-out: it ends either way, once.
  if (::RegisterWaitForSingleObject(&wait, process_.get(), &ExitWatch::Waited, notice_.get(), ms, WT_EXECUTEONLYONCE))
    patience_wait_.reset(wait);
}

void ExitWatch::Stop() noexcept {
  // The order matters: the pool's threads may be reading the notice and the handle until
  // the waits are unregistered.
  patience_wait_.reset();
  wait_.reset();
  notice_.reset();
  process_.reset();
}

// On a thread of the pool: only posts, so the window's thread never waits for it and
// a watch dropped on that thread cannot deadlock with it.
void CALLBACK ExitWatch::Ended(void* context, BOOLEAN /*timed_out*/) {
  const Notice& notice = *static_cast<const Notice*>(context);
  DWORD code = 0;
  // The handle carries every right, so this cannot fail; were it to, the code would be
  // unknown, and an unknown code is not a refusal to report.
  if (!::GetExitCodeProcess(notice.process, &code)) code = 0;
  // A window destroyed meanwhile simply refuses the post.
  ::PostMessageW(notice.window, notice.message, static_cast<WPARAM>(code), static_cast<LPARAM>(notice.id));
}

// On a thread of the pool, at the end of the patience or at the program's end, whichever
// comes first: only the first is told.
void CALLBACK ExitWatch::Waited(void* context, BOOLEAN timed_out) {
  if (!timed_out) return;
  const Notice& notice = *static_cast<const Notice*>(context);
  ::PostMessageW(notice.window, notice.still_running_message, 0, static_cast<LPARAM>(notice.id));
}

}  // namespace toolkit
