#include "toolkit/program_search.h"

#include <algorithm>
#include <cwctype>

namespace toolkit {

std::wstring ProgramOfCommandLine(std::wstring_view command_line) {
  std::size_t i = command_line.find_first_not_of(L" \t");
  if (i == std::wstring_view::npos) return {};
  if (command_line[i] == L'"') {
    const std::size_t end = command_line.find(L'"', i + 1);
    return std::wstring(command_line.substr(i + 1, end == std::wstring_view::npos ? end : end - i - 1));
  }
  const std::size_t end = command_line.find_first_of(L" \t", i);
  return std::wstring(command_line.substr(i, end == std::wstring_view::npos ? end : end - i));
}

bool IsAbsolutePath(std::wstring_view path) noexcept {
  if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
    return true;
  // UNC paths (\\server\share) are absolute too.
  return path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring out(folder);
  if (!out.empty() && out.back() != L'\\' && out.back() != L'/') out += L'\\';
  out += name;
  return out;
}

namespace {

// File names compare without regard to case, as Windows compares them; ours are ASCII.
bool SameName(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

}  // namespace

std::wstring WindowsProgramPath(std::wstring_view command_line, const WindowsFolders& folders) {
  const std::wstring name = ProgramOfCommandLine(command_line);
  const std::wstring* folder = nullptr;
  if (SameName(name, L"cmd.exe") || SameName(name, L"shutdown.exe"))
    folder = folders.native_system ? &*folders.native_system : &folders.system;
  if (SameName(name, L"explorer.exe")) folder = &folders.windows;
  // A folder that could not be read must not turn into a search of the current directory.
  if (folder == nullptr || !IsAbsolutePath(*folder)) return {};
  return JoinPath(*folder, name);
}

bool DisablesCommandPrompt(const std::optional<RegistryValue>& value) noexcept {
  constexpr std::uint32_t kDword = 4;  // REG_DWORD, little-endian
  if (!value) return false;
  const std::vector<std::uint8_t>& d = value->data;
  const bool zero = value->type == kDword && d.size() == 4 && (d[0] | d[1] | d[2] | d[3]) == 0;
  return !zero;
}

bool IsStartRefusedByPolicy(std::uint32_t error) noexcept {
  switch (error) {
    case 5:     // ERROR_ACCESS_DENIED
    case 577:   // ERROR_INVALID_IMAGE_HASH
    case 786:   // ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY
    case 1260:  // ERROR_ACCESS_DISABLED_BY_POLICY
    case 4551:  // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
      return true;
    default:
      return false;
  }
}

}  // namespace toolkit
