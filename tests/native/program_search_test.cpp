// Where launched programs are looked for: never the current directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/program_search.h"

namespace {

using toolkit::IsAbsolutePath;
using toolkit::ProgramOfCommandLine;
using toolkit::SearchFolders;
using toolkit::SearchOrder;
using Folders = std::vector<std::wstring>;

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

SearchFolders Standard(std::wstring path) {
  return {L"D:\\Apps\\Morvane", L"C:\\Windows\\System32", L"C:\\Windows", std::move(path)};
}

TEST(SearchOrder, ProgramFolderThenSystemThenWindowsThenPath) {
  EXPECT_EQ(SearchOrder(Standard(L"C:\\Tools;E:\\Bin")),
            (Folders{L"D:\\Apps\\Morvane", L"C:\\Windows\\System32", L"C:\\Windows", L"C:\\Tools", L"E:\\Bin"}));
  EXPECT_EQ(SearchOrder(Standard(L"")), (Folders{L"D:\\Apps\\Morvane", L"C:\\Windows\\System32", L"C:\\Windows"}));
}

TEST(SearchOrder, CurrentDirectoryAndRelativeEntriesAreNeverSearched) {
  EXPECT_EQ(SearchOrder(Standard(L".;.\\;..;bin;tools\\x;C:relative;\\rooted;;C:\\Tools;;")),
            (Folders{L"D:\\Apps\\Morvane", L"C:\\Windows\\System32", L"C:\\Windows", L"C:\\Tools"}));
  // A program folder that could not be read is left out rather than meaning ".".
  EXPECT_EQ(SearchOrder({L"", L"C:\\Windows\\System32", L"C:\\Windows", L"."}),
            (Folders{L"C:\\Windows\\System32", L"C:\\Windows"}));
}

TEST(SearchOrder, DuplicatesAreDroppedIgnoringCaseQuotesAndTrailingSlashes) {
  EXPECT_EQ(SearchOrder(Standard(L"c:\\windows\\system32;C:\\WINDOWS\\;\"C:\\Windows\\System32\\\";"
                                 L"d:\\apps\\morvane\\\\;C:\\Tools;c:\\tools\\")),
            (Folders{L"D:\\Apps\\Morvane", L"C:\\Windows\\System32", L"C:\\Windows", L"C:\\Tools"}));
}

TEST(SearchOrder, QuotedEntriesAndTrailingSlashesAreCleanedUp) {
  EXPECT_EQ(SearchOrder(Standard(L"\"C:\\Program Files\\Tool\";E:\\Bin\\;F:\\Deep\\Dir//;\"G:\\Quoted\\\"")),
            (Folders{L"D:\\Apps\\Morvane", L"C:\\Windows\\System32", L"C:\\Windows", L"C:\\Program Files\\Tool",
                     L"E:\\Bin", L"F:\\Deep\\Dir", L"G:\\Quoted"}));
  // A drive root keeps its slash: "E:" alone would mean E:'s current directory.
  EXPECT_EQ(SearchOrder({L"E:\\", L"", L"", L"E:\\\\;F:/"}), (Folders{L"E:\\", L"F:/"}));
}

TEST(JoinPath, OneSeparator) {
  EXPECT_EQ(toolkit::JoinPath(L"C:\\Windows\\System32", L"cmd.exe"), L"C:\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(toolkit::JoinPath(L"C:\\", L"cmd.exe"), L"C:\\cmd.exe");
  EXPECT_EQ(toolkit::JoinPath(L"F:/", L"cmd.exe"), L"F:/cmd.exe");
}

}  // namespace
