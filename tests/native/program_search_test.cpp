// Which program a launch starts: Windows' own, from where Windows keeps it, and nothing else.
#include <gtest/gtest.h>

#include <string>

#include "toolkit/program_search.h"

namespace {

using toolkit::IsAbsolutePath;
using toolkit::ProgramOfCommandLine;
using toolkit::WindowsFolders;
using toolkit::WindowsProgramPath;

TEST(ProgramOfCommandLine, FirstTokenUnquoted) {
  struct Case {
    const wchar_t* line;
    const wchar_t* program;
  };
  const Case cases[] = {
      {L"cmd.exe /c shutdown -s -t 3", L"cmd.exe"},
      {L"explorer.exe http://host:8080/", L"explorer.exe"},
      {L"cmd.exe", L"cmd.exe"},
      {L"  cmd.exe  /c x", L"cmd.exe"},
      {L"\t cmd.exe\t/c", L"cmd.exe"},
      {L"\"C:\\Program Files\\Tool\\tool.exe\" -a \"b c\"", L"C:\\Program Files\\Tool\\tool.exe"},
      {L"  \"C:\\A B\\x.exe\"", L"C:\\A B\\x.exe"},
      {L"\"C:\\no end quote\\x.exe -a", L"C:\\no end quote\\x.exe -a"},
      {L"C:\\Tools\\x.exe arg", L"C:\\Tools\\x.exe"},
      {L"", L""},
      {L"   \t ", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgramOfCommandLine(c.line), c.program) << c.line;
}

TEST(IsAbsolutePath, DriveRootedAndUncOnly) {
  for (const wchar_t* path :
       {L"C:\\Windows", L"c:/windows", L"C:\\", L"z:\\a b\\c", L"\\\\server\\share", L"//server/share"})
    EXPECT_TRUE(IsAbsolutePath(path)) << path;
  for (const wchar_t* path : {L"", L".", L"..", L".\\bin", L"bin", L"bin\\tools", L"C:", L"C:bin", L"\\Windows",
                              L"/usr/bin", L"1:\\x", L"\"C:\\quoted\""})
    EXPECT_FALSE(IsAbsolutePath(path)) << path;
}

const WindowsFolders kFolders{L"C:\\Windows\\System32", L"C:\\Windows"};

TEST(WindowsProgramPath, CmdFromTheSystemFolderExplorerFromTheWindowsFolder) {
  struct Case {
    const wchar_t* line;
    const wchar_t* path;
  };
  const Case cases[] = {
      {L"cmd.exe /c shutdown -s -t 3", L"C:\\Windows\\System32\\cmd.exe"},
      {L"cmd.exe /c shutdown -r -t 3", L"C:\\Windows\\System32\\cmd.exe"},
      {L"explorer.exe http://host:8080/", L"C:\\Windows\\explorer.exe"},
      {L"  \"CMD.EXE\" /c x", L"C:\\Windows\\System32\\CMD.EXE"},
      {L"Explorer.exe", L"C:\\Windows\\Explorer.exe"},
      {L"shutdown.exe -s -t 3", L"C:\\Windows\\System32\\shutdown.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(WindowsProgramPath(c.line, kFolders), c.path) << c.line;
  EXPECT_EQ(WindowsProgramPath(L"explorer.exe x", {L"C:\\Windows\\System32", L"D:\\"}), L"D:\\explorer.exe");
  // A 32-bit copy on 64-bit Windows: cmd.exe from Sysnative, and never SysWOW64's.
  const WindowsFolders wow64{L"C:\\Windows\\SysWOW64", L"C:\\Windows", L"C:\\Windows\\Sysnative"};
  EXPECT_EQ(WindowsProgramPath(L"cmd.exe /c x", wow64), L"C:\\Windows\\Sysnative\\cmd.exe");
  EXPECT_EQ(WindowsProgramPath(L"shutdown.exe -r -t 3", wow64), L"C:\\Windows\\Sysnative\\shutdown.exe");
  EXPECT_EQ(WindowsProgramPath(L"explorer.exe x", wow64), L"C:\\Windows\\explorer.exe");
  EXPECT_EQ(WindowsProgramPath(L"cmd.exe /c x", {L"C:\\Windows\\SysWOW64", L"", L""}), L"");
}

TEST(WindowsProgramPath, AnythingElseIsRefused) {
  for (const wchar_t* line :
       {L"", L"   ", L"shutdown -s -t 3", L"shutdown.bat", L".\\shutdown.exe -s", L"cmd /c x", L"cmd.com /c x",
        L"cmd.exe.exe", L"cmd.exe.", L"notepad.exe", L"explorer", L".\\cmd.exe /c x", L"bin\\cmd.exe",
        L"C:\\Downloads\\cmd.exe /c x", L"\"C:\\Windows\\System32\\cmd.exe\" /c x", L"\\\\server\\share\\explorer.exe",
        L"cmd.exe\\..\\x.exe"})
    EXPECT_EQ(WindowsProgramPath(line, kFolders), L"") << line;
}

TEST(WindowsProgramPath, AFolderThatIsNotAbsoluteNeverMeansTheCurrentOne) {
  for (const wchar_t* folder : {L"", L".", L"System32", L"C:", L"C:System32", L"\\Windows"}) {
    EXPECT_EQ(WindowsProgramPath(L"cmd.exe /c x", {folder, L"C:\\Windows"}), L"") << folder;
    EXPECT_EQ(WindowsProgramPath(L"explorer.exe x", {L"C:\\Windows\\System32", folder}), L"") << folder;
  }
}

// Only a DWORD 0 leaves the command prompt to run; whatever else the entry holds disables it.
TEST(DisablesCommandPrompt, AnyValueButADwordZero) {
  using toolkit::RegistryValue;
  EXPECT_FALSE(toolkit::DisablesCommandPrompt(std::nullopt));
  EXPECT_FALSE(toolkit::DisablesCommandPrompt(RegistryValue{4, {0, 0, 0, 0}}));
  for (const RegistryValue& value : {RegistryValue{4, {1, 0, 0, 0}}, RegistryValue{4, {2, 0, 0, 0}},
                                     RegistryValue{4, {0, 0, 0, 1}}, RegistryValue{1, {'0', 0}}, RegistryValue{4, {}},
                                     RegistryValue{1, {}}})  // too long to read: its type, no bytes
    EXPECT_TRUE(toolkit::DisablesCommandPrompt(value)) << value.type << " of " << value.data.size() << " bytes";
}

TEST(JoinPath, OneSeparator) {
  EXPECT_EQ(toolkit::JoinPath(L"C:\\Windows\\System32", L"cmd.exe"), L"C:\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(toolkit::JoinPath(L"C:\\", L"cmd.exe"), L"C:\\cmd.exe");
  EXPECT_EQ(toolkit::JoinPath(L"F:/", L"cmd.exe"), L"F:/cmd.exe");
}

}  // namespace
