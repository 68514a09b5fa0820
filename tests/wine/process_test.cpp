// Starting Windows' own programs. Only harmless stand-ins are ever started: copies of
// the launch stub, which records its command line and exits, in folders standing in
// for Windows' own; the launcher with Windows' folders is only asked for its paths.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/wine/test_support.h"
#include "toolkit/process.h"

namespace {

using test_support::FileExists;
using test_support::FolderOf;
using test_support::SameFolder;
using test_support::ScopedCurrentDirectory;
using test_support::ScopedPath;
using test_support::TempFolder;

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

class Process : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(Stub())) << "build the tools first";
    // Each stub notes its launches beside itself.
    ::SetEnvironmentVariableW(L"MORVANE_LAUNCH_LOG", nullptr);
  }
};

TEST_F(Process, WindowsOwnProgramsComeFromTheirFolders) {
  const toolkit::ProcessLauncher launcher;
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"cmd.exe /c shutdown -s -t 3"), SystemFolder() + L"\\cmd.exe"));
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
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"cmd.exe /c x"), SystemFolder() + L"\\cmd.exe"));
  EXPECT_TRUE(SameFolder(launcher.ProgramPath(L"explorer.exe x"), WindowsFolder() + L"\\explorer.exe"));
  // Other programs are never started, found or not.
  for (const wchar_t* line : {L"shutdown.exe -s", L"notepad.exe", L"morvane_no_such_program.exe /x", L"",
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
  ::Sleep(1000);
  EXPECT_FALSE(FileExists(here / L"launches.log"));
}

}  // namespace
