// Finding and starting programs. Only harmless stand-ins are ever started: copies of
// the launch stub, which records its command line and exits.
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
using toolkit::FindProgram;

constexpr wchar_t kProbe[] = L"morvane_probe_tool.exe";

std::wstring TestFolder() { return FolderOf(test_support::ModulePath()); }

// The launch stub built beside the tests; it never runs what it is given.
std::wstring Stub() { return TestFolder() + L"\\tools\\explorer.exe"; }

std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH] = {};
  return std::wstring(buffer, ::GetSystemDirectoryW(buffer, MAX_PATH));
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

class Process : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FileExists(Stub())) << "build the tools first"; }
};

TEST_F(Process, AProgramInTheCurrentDirectoryIsNeverFound) {
  TempFolder here;
  Plant(here / L"cmd.exe");
  Plant(here / kProbe);
  ScopedCurrentDirectory cd(here.path());

  const std::wstring cmd = FindProgram(L"cmd.exe /c x");
  ASSERT_FALSE(cmd.empty());
  EXPECT_FALSE(SameFolder(FolderOf(cmd), here.path())) << cmd;
  EXPECT_TRUE(SameFolder(FolderOf(cmd), SystemFolder()) || SameFolder(FolderOf(cmd), TestFolder())) << cmd;

  for (const wchar_t* line : {L"morvane_probe_tool.exe", L"\"morvane_probe_tool.exe\" x", L".\\morvane_probe_tool.exe",
                              L"./morvane_probe_tool.exe x"})
    EXPECT_EQ(FindProgram(line), L"") << line;
}

TEST_F(Process, RelativePathEntriesAreIgnored) {
  TempFolder here;
  ASSERT_TRUE(::CreateDirectoryW((here / L"bin").c_str(), nullptr));
  Plant(here / kProbe);
  Plant(here / (std::wstring(L"bin\\") + kProbe));
  ScopedCurrentDirectory cd(here.path());
  {
    // Every one of these names a folder holding the probe, relative to the current directory.
    const std::wstring own_name = here.path().substr(here.path().find_last_of(L"\\/") + 1);
    ScopedPath path(L".;bin;.\\bin;..\\" + own_name + L";" + SystemFolder());
    EXPECT_EQ(FindProgram(kProbe), L"");
  }
  {
    ScopedPath path(L"bin;\"" + (here / L"bin") + L"\\\"");
    const std::wstring found = FindProgram(kProbe);
    EXPECT_TRUE(SameFolder(FolderOf(found), here / L"bin")) << found;
  }
}

TEST_F(Process, TheProgramsOwnFolderComesBeforePath) {
  TempFolder elsewhere;
  Plant(elsewhere / kProbe);
  ScopedPath path(elsewhere.path());
  {
    const std::wstring found = FindProgram(kProbe);
    EXPECT_TRUE(SameFolder(FolderOf(found), elsewhere.path())) << found;
  }
  PlantedFile beside_tests(TestFolder() + L"\\" + kProbe);
  const std::wstring found = FindProgram(std::wstring(kProbe) + L" x");
  EXPECT_TRUE(SameFolder(FolderOf(found), TestFolder())) << found;
}

TEST_F(Process, TheSystemFolderComesBeforePath) {
  TempFolder elsewhere;
  Plant(elsewhere / L"cmd.exe");
  ScopedPath path(elsewhere.path() + L";" + SystemFolder());
  const std::wstring found = FindProgram(L"cmd.exe /c x");
  EXPECT_TRUE(SameFolder(FolderOf(found), SystemFolder())) << found;
}

TEST_F(Process, LaunchingAMissingProgramFails) {
  toolkit::ProcessLauncher launcher;
  EXPECT_FALSE(launcher.Launch(L"morvane_no_such_program.exe /x", 2));
  EXPECT_FALSE(launcher.Launch(L"", 2));
  EXPECT_FALSE(launcher.Launch(L"\"C:\\no such folder\\x.exe\" y", 2));
}

TEST_F(Process, AProgramOnlyInTheCurrentDirectoryIsNotStarted) {
  TempFolder here;
  Plant(here / kProbe);
  ScopedCurrentDirectory cd(here.path());
  toolkit::ProcessLauncher launcher;
  EXPECT_FALSE(launcher.Launch(L"morvane_probe_tool.exe http://host/", 2));
  ::Sleep(1500);
  EXPECT_FALSE(FileExists(here / L"launches.log"));
}

TEST_F(Process, LaunchStartsTheProgramWithTheCommandLineAndShowStyle) {
  TempFolder here;
  const std::wstring probe = here / kProbe;
  Plant(probe);
  const std::wstring line = L"\"" + probe + L"\" http://host:8080/";
  toolkit::ProcessLauncher launcher;
  ASSERT_TRUE(launcher.Launch(line, 2));

  const std::wstring log = here / L"launches.log";
  std::string text;
  for (int i = 0; i < 100 && text.find('\n') == std::string::npos; ++i) {
    ::Sleep(100);
    text = ReadLog(log);
  }
  ASSERT_NE(text.find('\n'), std::string::npos) << "the stub did not record its launch";
  const std::vector<std::string> fields = Split(text.substr(0, text.find('\n')), '\t');
  ASSERT_EQ(fields.size(), 5u) << text;
  EXPECT_EQ(fields[1], "morvane_probe_tool.exe");
  EXPECT_EQ(fields[2], "2");
  EXPECT_EQ(fields[3], "0x1");  // STARTF_USESHOWWINDOW
  EXPECT_EQ(fields[4], Utf8(line));
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "launched more than once";
}

}  // namespace
