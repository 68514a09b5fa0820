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

namespace {

std::wstring Normalised(std::wstring_view folder) {
  std::wstring out(folder);
  // PATH entries are sometimes quoted; surrounding quotes are not part of the folder.
  if (out.size() >= 2 && out.front() == L'"' && out.back() == L'"') out = out.substr(1, out.size() - 2);
  while (out.size() > 3 && (out.back() == L'\\' || out.back() == L'/')) out.pop_back();
  return out;
}

bool SameFolder(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

}  // namespace

std::vector<std::wstring> SearchOrder(const SearchFolders& folders) {
  std::vector<std::wstring> order;
  auto add = [&order](std::wstring_view raw) {
    std::wstring folder = Normalised(raw);
    if (!IsAbsolutePath(folder)) return;
    for (const auto& known : order)
      if (SameFolder(known, folder)) return;
    order.push_back(std::move(folder));
  };
  add(folders.program_folder);
  add(folders.system_folder);
  add(folders.windows_folder);
  std::wstring_view path = folders.path_variable;
  while (!path.empty()) {
    const std::size_t end = path.find(L';');
    add(path.substr(0, end));
    if (end == std::wstring_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return order;
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring out(folder);
  if (!out.empty() && out.back() != L'\\' && out.back() != L'/') out += L'\\';
  out += name;
  return out;
}

}  // namespace toolkit
