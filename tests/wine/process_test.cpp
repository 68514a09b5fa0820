// Starting Windows' own programs, and learning how they ended. Only harmless stand-ins
// are ever started: copies of the launch stub, which records its command line and exits
// (with the code its exitcode.txt names), in folders standing in for Windows' own; the
// launcher with Windows' folders is only asked for its paths.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "main_window/commands.h"
#include "tests/wine/test_support.h"
#include "toolkit/common_controls.h"
#include "toolkit/newer_windows.h"
#include "toolkit/process.h"

namespace {

using test_support::FileExists;
using test_support::FolderOf;
using test_support::SameFolder;
using test_support::ScopedCurrentDirectory;
using test_support::ScopedPath;
using test_support::TempFolder;
using toolkit::ExitWatch;
using toolkit::UniqueKernelHandle;

std::wstring TestFolder() { return FolderOf(test_support::ModulePath()); }

// The launch stub built beside the tests; it never runs what it is given.
std::wstring Stub() { return TestFolder() + L"\\tools\\explorer.exe"; }

std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH] = {};
  return std::wstring(buffer, ::GetSystemDirectoryW(buffer, MAX_PATH));
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH] = {};
  return std::wstring(buffer, ::GetSystemWindowsDirectoryW(buffer, MAX_PATH));
}

// Where cmd.exe comes from: the system folder, or for a 32-bit build on 64-bit Windows
// the 64-bit one behind Sysnative.
std::wstring CommandFolder() {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? WindowsFolder() + L"\\Sysnative" : SystemFolder();
}

void Plant(const std::wstring& path) {
  ASSERT_TRUE(::CopyFileW(Stub().c_str(), path.c_str(), FALSE)) << "cannot copy the stub, error " << ::GetLastError();
}

// A file placed for one test and removed afterwards.
class PlantedFile {
 public:
  explicit PlantedFile(std::wstring path) : path_(std::move(path)) { Plant(path_); }
  ~PlantedFile() {
    for (int attempt = 0; attempt < 50 && !::DeleteFileW(path_.c_str()); ++attempt) ::Sleep(100);
  }
  PlantedFile(const PlantedFile&) = delete;
  PlantedFile& operator=(const PlantedFile&) = delete;

 private:
  std::wstring path_;
};

std::string ReadLog(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

std::string Utf8(const std::wstring& text) {
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = line.find(separator, from);
    fields.push_back(line.substr(from, at == std::string::npos ? at : at - from));
    if (at == std::string::npos) return fields;
    from = at + 1;
  }
}

// One launch as the stub noted it.
struct Noted {
  std::string exe, show, flags, folder, current, command_line;
};

// Waits for `count` launches in the log; fewer when they do not come.
std::vector<Noted> WaitForLaunches(const std::wstring& log, std::size_t count) {
  std::vector<Noted> noted;
  for (int i = 0; i < 100; ++i) {
    noted.clear();
    const std::string text = ReadLog(log);
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
      const std::vector<std::string> f = Split(text.substr(from, end - from), '\t');
      if (f.size() == 7) noted.push_back({f[1], f[2], f[3], f[4], f[5], f[6]});
    }
    if (noted.size() >= count) break;
    ::Sleep(100);
  }
  return noted;
}

void WriteExitCode(const std::wstring& folder, const char* code) {
  HANDLE file = ::CreateFileW((folder + L"\\exitcode.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, code, static_cast<DWORD>(std::strlen(code)), &written, nullptr);
  ::CloseHandle(file);
}

constexpr UINT kEnded = WM_APP + 7;

// A window that only receives the watches' notices.
class NoticeWindow {
 public:
  NoticeWindow()
      : hwnd_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
  ~NoticeWindow() { ::DestroyWindow(hwnd_); }
  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;
  [[nodiscard]] HWND hwnd() const noexcept { return hwnd_; }

  // The next notice (exit code, id), waiting up to `ms` for it.
  std::optional<std::pair<WPARAM, LPARAM>> Next(DWORD ms) const {
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    for (;;) {
      MSG message{};
      if (::PeekMessageW(&message, hwnd_, kEnded, kEnded, PM_REMOVE)) return std::pair{message.wParam, message.lParam};
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) return std::nullopt;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_POSTMESSAGE);
    }
  }

 private:
  HWND hwnd_;
};

// A stub started suspended by the test itself, so that it is still running for as long
// as the test needs; terminated at the end.
struct SuspendedStub {
  UniqueKernelHandle process;
  HANDLE kept = nullptr;  // the test's own handle to it
  explicit SuspendedStub(const std::wstring& exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring line = L"cmd.exe /c rem";
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                          &startup, &info))
      return;
    ::CloseHandle(info.hThread);
    process.reset(info.hProcess);
    ::DuplicateHandle(::GetCurrentProcess(), info.hProcess, ::GetCurrentProcess(), &kept, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
  }
  ~SuspendedStub() {
    if (!kept) return;
    ::TerminateProcess(kept, 9);
    ::WaitForSingleObject(kept, 5000);
    ::CloseHandle(kept);
  }
  SuspendedStub(const SuspendedStub&) = delete;
  SuspendedStub& operator=(const SuspendedStub&) = delete;
};

bool IsOpenHandle(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

class Process : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(Stub())) << "build the tools first";
    // Each stub notes its launches beside itself.
    ::SetEnvironmentVariableW(L"MORVANE_LAUNCH_LOG", nullptr);
  }
};

TEST_F(Process, WindowsOwnProgramsComeFromTheirFolders) {
  // The standard controls, loaded by name from the system folder, are version 6 from WinSxS.
  wchar_t comctl32[MAX_PATH] = {};
  ::CharLowerBuffW(comctl32, ::GetModuleFileNameW(toolkit::CommonControlsModule(), comctl32, MAX_PATH));
#ifdef _WIN64
  constexpr wchar_t kVersion6[] = L"\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.";
#else
  constexpr wchar_t kVersion6[] = L"\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.";
#endif
  EXPECT_TRUE(std::wcsstr(comctl32, kVersion6)) << comctl32;
  // On Windows 7's road the current folder leaves the DLL search: the DLL directory,
  // whatever it was, is set empty (which Wine's loader, unlike Windows', takes for none).
  ::SetDllDirectoryW(TestFolder().c_str());
  const toolkit::NewerWindows newer = toolkit::HideNewerWindows();
  toolkit::LoadDllsFromTheSystemFolderOnly();
  toolkit::HideNewerWindows(newer);
  wchar_t dll_directory[MAX_PATH] = {};
  EXPECT_EQ(::GetDllDirectoryW(MAX_PATH, dll_directory), 0u) << dll_directory;

  const toolkit::ProcessLauncher launcher;
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"cmd.exe /c shutdown -s -t 3"), CommandFolder() + L"\\cmd.exe"));
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"explorer.exe http://host/"), WindowsFolder() + L"\\explorer.exe"));

  // Nothing planted beside the program, in the current directory or on PATH changes that.
  TempFolder here;
  for (const wchar_t* name : {L"cmd.exe", L"explorer.exe", L"shutdown.exe"}) {
    Plant(here / name);
  }
  PlantedFile beside_cmd(TestFolder() + L"\\cmd.exe");
  PlantedFile beside_explorer(TestFolder() + L"\\explorer.exe");
  ScopedCurrentDirectory cd(here.path());
  ScopedPath path(L".;" + here.path());
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"cmd.exe /c x"), CommandFolder() + L"\\cmd.exe"));
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"explorer.exe x"), WindowsFolder() + L"\\explorer.exe"));
  // Other programs are never started, found or not.
  for (const wchar_t* line : {L"shutdown -s", L"notepad.exe", L"morvane_no_such_program.exe /x", L"",
                              L"\"C:\\no such folder\\x.exe\" y", L".\\cmd.exe /c x"}) {
    EXPECT_EQ(launcher.ProgramPath(line), L"") << line;
  }
}

TEST_F(Process, LaunchStartsTheStandInFromItsFolderInTheSystemFolder) {
  TempFolder system, windows, beside, here;
  Plant(system / L"cmd.exe");
  Plant(windows / L"explorer.exe");
  for (const TempFolder* planted : {&beside, &here}) {
    Plant(*planted / L"cmd.exe");
    Plant(*planted / L"explorer.exe");
  }
  ScopedCurrentDirectory cd(here.path());
  ScopedPath path(beside.path() + L";" + here.path());
  toolkit::ProcessLauncher launcher({system.path(), windows.path()});

  const std::wstring power = L"cmd.exe /c echo x";
  const std::wstring site = L"explorer.exe http://host:8080/";
  ASSERT_TRUE(launcher.Launch(power, 2));
  ASSERT_TRUE(launcher.Launch(site, 7));

  const std::vector<Noted> cmd = WaitForLaunches(system / L"launches.log", 1);
  ASSERT_EQ(cmd.size(), 1u) << "the stand-in cmd.exe did not note its launch, or did more than once";
  EXPECT_EQ(cmd[0].exe, "cmd.exe");
  EXPECT_EQ(cmd[0].show, "2");
  EXPECT_EQ(cmd[0].flags, "0x1");  // STARTF_USESHOWWINDOW
  EXPECT_TRUE(SameFolder(Wide(cmd[0].folder), system.path())) << cmd[0].folder;
  EXPECT_TRUE(SameFolder(Wide(cmd[0].current), system.path())) << cmd[0].current;
  EXPECT_EQ(cmd[0].command_line, Utf8(power));

  const std::vector<Noted> explorer = WaitForLaunches(windows / L"launches.log", 1);
  ASSERT_EQ(explorer.size(), 1u);
  EXPECT_EQ(explorer[0].show, "7");
  EXPECT_TRUE(SameFolder(Wide(explorer[0].folder), windows.path())) << explorer[0].folder;
  EXPECT_TRUE(SameFolder(Wide(explorer[0].current), system.path())) << explorer[0].current;
  EXPECT_EQ(explorer[0].command_line, Utf8(site));

  ::Sleep(500);
  EXPECT_FALSE(FileExists(beside / L"launches.log"));
  EXPECT_FALSE(FileExists(here / L"launches.log"));
}

TEST_F(Process, AMissingOrUnknownProgramIsNotStarted) {
  TempFolder system, windows, here;
  Plant(here / L"cmd.exe");
  Plant(here / L"notepad.exe");
  ScopedCurrentDirectory cd(here.path());
  toolkit::ProcessLauncher launcher({system.path(), windows.path()});
  EXPECT_FALSE(launcher.Launch(L"cmd.exe /c echo x", 2));
  EXPECT_FALSE(launcher.Launch(L"explorer.exe http://host/", 2));
  EXPECT_FALSE(launcher.Launch(L"notepad.exe", 2));
  // Folders that could not be read start nothing either.
  toolkit::ProcessLauncher unread({L"", L""});
  EXPECT_FALSE(unread.Launch(L"cmd.exe /c echo x", 2));
  NoticeWindow window;
  EXPECT_FALSE(launcher.LaunchWatched({L"cmd.exe /c echo x"}, 2, window.hwnd(), kEnded));
  EXPECT_FALSE(launcher.LaunchWatched({L"notepad.exe"}, 2, window.hwnd(), kEnded));
  ::Sleep(1000);
  EXPECT_FALSE(FileExists(here / L"launches.log"));
}

// Where Windows will not run cmd.exe the system folder's shutdown.exe runs instead: at
// once where a policy refuses cmd.exe's start, alone where the command prompt is disabled
// (DisableCMD, as Group Policy sets it). Any other failure, or a second refusal, starts
// nothing more.
TEST_F(Process, WhereCmdWillNotRunTheSystemFoldersShutdownExeRuns) {
  using main_window::PowerMode;
  TempFolder system, windows, here;
  for (const wchar_t* name : {L"cmd.exe", L"shutdown.exe"}) Plant(system / name), Plant(here / name);
  ScopedCurrentDirectory cd(here.path());
  ScopedPath path(here.path());
  std::wstring asked;      // what the stand-in was asked to start
  DWORD refusals[2] = {};  // of cmd.exe, of shutdown.exe
  toolkit::ProcessLauncher launcher(
      {system.path(), windows.path()},
      [&](const wchar_t* program, wchar_t* line, const wchar_t* folder, STARTUPINFOW& startup,
          PROCESS_INFORMATION& info) -> DWORD {
        const bool cmd = std::wcsstr(program, L"\\cmd.exe") != nullptr;
        asked += cmd ? L"cmd " : L"shutdown ";
        if (refusals[cmd ? 0 : 1] != 0) return refusals[cmd ? 0 : 1];
        return ::CreateProcessW(program, line, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &info) ? 0 : 1;
      });
  NoticeWindow window;
  static constexpr wchar_t kPolicies[] = L"Software\\Policies\\Microsoft\\Windows\\System";
  const auto enable = [](HKEY hive) { ::RegDeleteKeyValueW(hive, kPolicies, L"DisableCMD"); };
  struct Case {
    DWORD cmd_refused, shutdown_refused;
    HKEY disabled_in;
    PowerMode mode;
    const wchar_t* asked;
    const char* ran;  // as the stub notes it; none started
    DWORD type = REG_DWORD;  // of the DisableCMD value; as text, too long for a number
  };
  const Case cases[] = {
      {1260, 0, nullptr, PowerMode::Shutdown, L"cmd shutdown ", "shutdown.exe -s -t 3"},  // SRP, AppLocker
      {4551, 0, nullptr, PowerMode::Restart, L"cmd shutdown ", "shutdown.exe -r -t 3"},   // App Control, S mode
      {577, 0, nullptr, PowerMode::Shutdown, L"cmd shutdown ", "shutdown.exe -s -t 3"},   // unsigned, App Control
      {786, 0, nullptr, PowerMode::Restart, L"cmd shutdown ", "shutdown.exe -r -t 3"},    // SRP, no notice
      {0, 0, HKEY_CURRENT_USER, PowerMode::Shutdown, L"shutdown ", "shutdown.exe -s -t 3"},
      {0, 0, HKEY_LOCAL_MACHINE, PowerMode::Restart, L"shutdown ", "shutdown.exe -r -t 3"},
      {0, 0, HKEY_CURRENT_USER, PowerMode::Restart, L"shutdown ", "shutdown.exe -r -t 3", REG_SZ},
      {0, 0, nullptr, PowerMode::Shutdown, L"cmd ", "cmd.exe /c shutdown -s -t 3"},
      {1260, 786, nullptr, PowerMode::Shutdown, L"cmd shutdown ", nullptr},
      {2, 0, nullptr, PowerMode::Shutdown, L"cmd ", nullptr},
  };
  std::size_t ran = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.asked) + std::to_string(c.cmd_refused) + " type " + std::to_string(c.type));
    asked.clear();
    refusals[0] = c.cmd_refused, refusals[1] = c.shutdown_refused;
    const DWORD two = 2;
    const wchar_t text[] = L"Prevent access to the command prompt";
    const bool dword = c.type == REG_DWORD;
    std::unique_ptr<HKEY__, decltype(enable)> disabled(nullptr, enable);
    if (c.disabled_in && ::RegSetKeyValueW(c.disabled_in, kPolicies, L"DisableCMD", c.type,
                                           dword ? static_cast<const void*>(&two) : text,
                                           dword ? sizeof two : sizeof text) == 0)
      disabled.reset(c.disabled_in);
    const auto started = launcher.LaunchWatched(
        {main_window::PowerCommandLine(c.mode), main_window::ShutdownExeCommandLine(c.mode)}, 2, window.hwnd(), kEnded);
    EXPECT_EQ(asked, c.asked);
    ASSERT_EQ(started.has_value(), c.ran != nullptr);
    if (!started) continue;
    const std::vector<Noted> noted = WaitForLaunches(system / L"launches.log", ++ran);
    ASSERT_EQ(noted.size(), ran);
    EXPECT_EQ(noted.back().command_line, c.ran);
    EXPECT_EQ(noted.back().exe, Utf8(started->program));
  }
  ::Sleep(500);
  EXPECT_FALSE(FileExists(here / L"launches.log"));
}

// The exit code comes back once, as a notice posted to the window, wherever the watch
// has moved meanwhile; the launch itself is the same as an unwatched one.
TEST_F(Process, AWatchedLaunchPostsItsExitCodeOnce) {
  TempFolder system, windows;
  Plant(system / L"cmd.exe");
  toolkit::ProcessLauncher launcher({system.path(), windows.path()});
  NoticeWindow window;
  ASSERT_NE(window.hwnd(), nullptr);

  struct Case {
    const char* file;  // exitcode.txt beside the stub, or none
    WPARAM code;
  };
  for (const Case& c : {Case{nullptr, 0}, Case{"1190", 1190}, Case{"3221225794\r\n", 0xC0000142}}) {
    SCOPED_TRACE(c.code);
    if (c.file) {
      ASSERT_NO_FATAL_FAILURE(WriteExitCode(system.path(), c.file));
    }
    std::optional<toolkit::StartedCommand> started =
        launcher.LaunchWatched({L"cmd.exe /c echo x"}, 2, window.hwnd(), kEnded);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->program, L"cmd.exe");
    EXPECT_TRUE(started->watch.Watching());
    const DWORD id = started->watch.Id();
    EXPECT_NE(id, 0u);
    // Moved into a list and along it, as the window keeps them.
    std::vector<ExitWatch> watches;
    watches.push_back(ExitWatch(1));
    watches.push_back(std::move(started->watch));
    watches.erase(watches.begin());
    const auto notice = window.Next(10000);
    ASSERT_TRUE(notice) << "no notice of the end";
    EXPECT_EQ(notice->first, c.code);
    EXPECT_EQ(notice->second, static_cast<LPARAM>(id));
    watches[0].TellIfStillRunning(std::chrono::milliseconds(100), kEnded);  // ended: nothing to tell
    EXPECT_FALSE(window.Next(300)) << "the end was told twice, or told as still running";
  }
  const std::vector<Noted> noted = WaitForLaunches(system / L"launches.log", 3);
  ASSERT_EQ(noted.size(), 3u);
  EXPECT_EQ(noted[2].show, "2");
  EXPECT_EQ(noted[2].command_line, "cmd.exe /c echo x");
}

// A program still running at the end of the patience is told once, with 0. A watch
// dropped (or replaced) while its program runs closes the handle and never posts;
// without a window it watches nothing.
TEST_F(Process, ADroppedWatchClosesTheHandleAndPostsNothing) {
  TempFolder folder;
  Plant(folder / L"cmd.exe");
  NoticeWindow window;
  {
    SuspendedStub running(folder / L"cmd.exe");
    ASSERT_TRUE(running.process);
    const HANDLE handle = running.process.get();
    std::optional<ExitWatch> watch;
    watch.emplace(std::move(running.process), 42, window.hwnd(), kEnded);
    EXPECT_TRUE(watch->Watching());
    EXPECT_EQ(watch->Id(), 42u);
    watch->TellIfStillRunning(std::chrono::milliseconds(200), kEnded);
    EXPECT_EQ(window.Next(10000), (std::pair<WPARAM, LPARAM>{0, 42}));
    EXPECT_FALSE(window.Next(300)) << "told twice";
    watch.reset();
    EXPECT_FALSE(IsOpenHandle(handle));
  }
  {
    SuspendedStub running(folder / L"cmd.exe");
    const HANDLE handle = running.process.get();
    ExitWatch watch(std::move(running.process), 43, window.hwnd(), kEnded);
    watch = ExitWatch(44);
    EXPECT_FALSE(IsOpenHandle(handle));
    EXPECT_FALSE(watch.Watching());
    EXPECT_EQ(watch.Id(), 44u);
  }
  {
    SuspendedStub running(folder / L"cmd.exe");
    const HANDLE handle = running.process.get();
    const ExitWatch unwatched(std::move(running.process), 45, nullptr, kEnded);
    EXPECT_FALSE(unwatched.Watching());
    EXPECT_FALSE(IsOpenHandle(handle));
  }
  // All three have ended by now.
  EXPECT_FALSE(window.Next(300));
}

}  // namespace
