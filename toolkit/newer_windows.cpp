#include "toolkit/newer_windows.h"

#include <string>
#include <utility>

#include "toolkit/dll_function.h"

namespace toolkit {
namespace {

// One of Windows' own DLLs from the system folder, for the DLL and for what it loads in
// turn, whatever lies beside the program or in the current folder.
HMODULE LoadFromSystemFolder(const wchar_t* name, bool search_flags) {
  // Windows 8 on, and Windows 7 with KB2533623: the system folder alone.
  if (search_flags) return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without it, which refuses that flag: the full path, and the altered search
  // order, which looks for the DLL's own imports in its folder (the system folder) first.
  std::wstring path(MAX_PATH, L'\0');
  const UINT n = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
  if (n == 0 || n >= path.size()) return nullptr;
  path.resize(n);
  path += L'\\';
  path += name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

NewerWindows Resolve() {
  NewerWindows found;
  if (const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll"))
    (void)FindFunction(kernel32, "SetDefaultDllDirectories", found.SetDefaultDllDirectories);
  if (const HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
    (void)FindFunction(user32, "GetDpiForWindow", found.GetDpiForWindow);
    (void)FindFunction(user32, "AdjustWindowRectExForDpi", found.AdjustWindowRectExForDpi);
    (void)FindFunction(user32, "GetSystemMetricsForDpi", found.GetSystemMetricsForDpi);
    (void)FindFunction(user32, "EnableNonClientDpiScaling", found.EnableNonClientDpiScaling);
    (void)FindFunction(user32, "SetCoalescableTimer", found.SetCoalescableTimer);
    // Both or neither: a registration that could not be undone is not made.
    if (!FindFunction(user32, "RegisterSuspendResumeNotification", found.RegisterSuspendResumeNotification) ||
        !FindFunction(user32, "UnregisterSuspendResumeNotification", found.UnregisterSuspendResumeNotification)) {
      found.RegisterSuspendResumeNotification = nullptr;
      found.UnregisterSuspendResumeNotification = nullptr;
    }
  }
  // Windows 8.1 and Windows 10 before 1607 tell a monitor's DPI through shcore alone.
  if (!found.GetDpiForWindow) {
    if (const HMODULE shcore = LoadFromSystemFolder(L"shcore.dll", found.SetDefaultDllDirectories != nullptr))
      (void)FindFunction(shcore, "GetDpiForMonitor", found.GetDpiForMonitor);
  }
  return found;
}

// Resolved at the first look, which is the user-interface thread's (the fetch's workers
// never look), so it needs no guard: the runtime's would link in its exception
// machinery, which the program is built without.
NewerWindows table;
bool resolved = false;

NewerWindows& Table() {
  if (!resolved) {
    table = Resolve();
    resolved = true;
  }
  return table;
}

}  // namespace

const NewerWindows& Newer() { return Table(); }

NewerWindows HideNewerWindows(const NewerWindows& kept) { return std::exchange(Table(), kept); }

// Every DLL loaded from here on, by us or by Windows' own DLLs on our behalf (themes,
// the network, the shell...), comes from the system folder only, unless its load names
// a search of its own (LoadLibraryEx with search flags), which this default does not
// reach: ours, comctl32 and WinINet, name the system folder. The program may run from a
// Downloads folder where a web page dropped a DLL named like one of Windows' own, and the
// standard search looks in the program's folder first. (Its static imports are Known
// DLLs, which are never searched for there.) No image-load mitigation policy is set:
// policies pass to the programs we start, and the browser we open through explorer.exe
// must find its own DLLs as it always does. Newer() runs first, to learn which way this
// Windows takes; where it loads shcore, it names the system folder too.
void LoadDllsFromTheSystemFolderOnly() {
  if (const auto set_default_dll_directories = Newer().SetDefaultDllDirectories) {
    set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  // Windows 7 without KB2533623: the current folder at least leaves the search (for the
  // programs we start too, which the page says inherit it: harmless to cmd.exe and
  // explorer.exe). The program's own folder stays in it, for what Windows loads on our
  // behalf; our own loads name the system folder (LoadSystemLibrary).
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  return LoadFromSystemFolder(name, Newer().SetDefaultDllDirectories != nullptr);
}

}  // namespace toolkit
