#include "toolkit/process.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
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

// The DisableCMD value in one hive; none when it is not there (or cannot be read). The
// 64-bit view, where the policy's value lies for the 64-bit cmd.exe, also for the 32-bit
// copy (on 32-bit Windows the flag is ignored).
std::optional<RegistryValue> DisableCmdValue(HKEY hive) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(hive, L"Software\\Policies\\Microsoft\\Windows\\System", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &opened) != ERROR_SUCCESS)
    return std::nullopt;
  const UniqueRegistryKey key(opened);
  DWORD type = 0;
  BYTE data[16] = {};
  DWORD size = sizeof data;
  const LSTATUS status = ::RegQueryValueExW(key.get(), L"DisableCMD", nullptr, &type, data, &size);
  // Too long for a number is still a value that is there.
  if (status == ERROR_MORE_DATA) return RegistryValue{type, {}};
  if (status != ERROR_SUCCESS) return std::nullopt;
  return RegistryValue{type, std::vector<std::uint8_t>(data, data + size)};
}

// "Prevent access to the command prompt": Microsoft documents it as a user policy only
// (Policy CSP ADMX_ShellCommandPromptRegEditTools/DisableCMD), kept in the user's hive.
// The machine's hive is read too, as a safe extra: where someone set it there, the road
// without cmd.exe costs nothing, and Microsoft does not say that cmd.exe ignores it.
bool CommandPromptDisabledByPolicy() {
  return DisablesCommandPrompt(DisableCmdValue(HKEY_CURRENT_USER)) ||
         DisablesCommandPrompt(DisableCmdValue(HKEY_LOCAL_MACHINE));
}

DWORD CreateProcessStart(const wchar_t* program, wchar_t* command_line, const wchar_t* folder, STARTUPINFOW& startup,
                         PROCESS_INFORMATION& info) {
  if (::CreateProcessW(program, command_line, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &info)) return 0;
  const DWORD error = ::GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

}  // namespace

ProcessLauncher::ProcessLauncher() : folders_(OwnFolders()), start_(CreateProcessStart) {}

ProcessLauncher::ProcessLauncher(WindowsFolders folders, ProcessStart start)
    : folders_(std::move(folders)), start_(start ? std::move(start) : ProcessStart(CreateProcessStart)) {}

std::wstring ProcessLauncher::ProgramPath(std::wstring_view command_line) const {
  return WindowsProgramPath(command_line, folders_);
}

ProcessLauncher::Attempt ProcessLauncher::Start(std::wstring_view command_line, int show_style) {
  const std::wstring program = ProgramPath(command_line);
  if (program.empty()) return {UniqueKernelHandle(), 0, ERROR_FILE_NOT_FOUND};

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
  if (const DWORD error = start_(program.c_str(), line.data(), folders_.system.c_str(), startup, info); error != 0)
    return {UniqueKernelHandle(), 0, error};
  UniqueKernelHandle thread(info.hThread);
  return {UniqueKernelHandle(info.hProcess), info.dwProcessId, 0};
}

bool ProcessLauncher::Launch(std::wstring_view command_line, int show_style) {
  return static_cast<bool>(Start(command_line, show_style).process);
}

// cmd.exe wherever it may run. Where the command prompt is disabled it is not started at
// all; where a policy refuses to start it, the command without it follows at once. There
// is no third try: a refusal of that one too is the caller's to tell.
std::optional<StartedCommand> ProcessLauncher::LaunchWatched(const Command& command, int show_style, HWND window,
                                                             UINT message) {
  const bool has_other_road = !command.without_cmd.empty();
  bool through_cmd = !(has_other_road && CommandPromptDisabledByPolicy());
  Attempt started = Start(through_cmd ? command.line : command.without_cmd, show_style);
  if (!started.process && through_cmd && has_other_road && IsStartRefusedByPolicy(started.error)) {
    through_cmd = false;
    started = Start(command.without_cmd, show_style);
  }
  if (!started.process) return std::nullopt;
  return StartedCommand{ExitWatch(std::move(started.process), started.id, window, message),
                        ProgramOfCommandLine(through_cmd ? command.line : command.without_cmd)};
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
