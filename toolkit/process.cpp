#include "toolkit/process.h"

#include <windows.h>

#include <vector>

#include "toolkit/handles.h"
#include "toolkit/program_search.h"

namespace toolkit {
namespace {

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ModulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(buffer.size() * 2);
  }
}

template <typename Getter>
std::wstring ReadString(Getter getter) {
  std::wstring buffer(MAX_PATH, L'\0');
  UINT n = getter(buffer.data(), static_cast<UINT>(buffer.size()));
  if (n > buffer.size()) {
    buffer.resize(n);
    n = getter(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  buffer.resize(n <= buffer.size() ? n : 0);
  return buffer;
}

std::wstring EnvironmentVariable(const wchar_t* name) {
  const DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD written = ::GetEnvironmentVariableW(name, value.data(), n);
  value.resize(written < n ? written : 0);
  return value;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring FindProgram(std::wstring_view command_line) {
  std::wstring name = ProgramOfCommandLine(command_line);
  if (name.empty()) return {};
  if (name.find_first_of(L"\\/") != std::wstring::npos) {
    // A path that names its folder is taken as given, but only when it is absolute.
    return IsAbsolutePath(name) && IsFile(name) ? name : std::wstring();
  }
  SearchFolders folders;
  folders.program_folder = FolderOf(ModulePath());
  folders.system_folder = ReadString([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
  folders.windows_folder = ReadString([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
  folders.path_variable = EnvironmentVariable(L"PATH");
  for (const auto& folder : SearchOrder(folders)) {
    std::wstring candidate = JoinPath(folder, name);
    if (IsFile(candidate)) return candidate;
  }
  return {};
}

bool ProcessLauncher::Launch(std::wstring_view command_line, int show_style) {
  const std::wstring program = FindProgram(command_line);
  if (program.empty()) return false;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show_style);
  PROCESS_INFORMATION info{};
  // CreateProcessW may write into the command line, so it gets a private copy.
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  UniqueKernelHandle process(info.hProcess);
  UniqueKernelHandle thread(info.hThread);
  return true;
}

}  // namespace toolkit
