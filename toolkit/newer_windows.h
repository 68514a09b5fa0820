// The functions of Windows releases after Windows 7 SP1 that the program uses where they
// exist. The program imports only what Windows 7 SP1 has (it is built for 0x0601, so the
// headers refuse the rest); each newer function is looked up here, once, and its caller
// takes the older way where it is missing.
#pragma once

#include <windows.h>

namespace toolkit {

struct NewerWindows {
  // Windows 10 1607 and later.
  UINT(WINAPI* GetDpiForWindow)(HWND window) = nullptr;
  BOOL(WINAPI* AdjustWindowRectExForDpi)(RECT* rect, DWORD style, BOOL menu, DWORD ex_style, UINT dpi) = nullptr;
  int(WINAPI* GetSystemMetricsForDpi)(int index, UINT dpi) = nullptr;
  BOOL(WINAPI* EnableNonClientDpiScaling)(HWND window) = nullptr;
  // Windows 8.1 and later (shcore.dll); looked for only where GetDpiForWindow is missing.
  HRESULT(WINAPI* GetDpiForMonitor)(HMONITOR monitor, int type, UINT* dpi_x, UINT* dpi_y) = nullptr;
  // Windows 8 and later.
  UINT_PTR(WINAPI* SetCoalescableTimer)(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc, ULONG delay) = nullptr;
  HPOWERNOTIFY(WINAPI* RegisterSuspendResumeNotification)(HANDLE recipient, DWORD flags) = nullptr;
  BOOL(WINAPI* UnregisterSuspendResumeNotification)(HPOWERNOTIFY registration) = nullptr;
  // Windows 8, or Windows 7 with update KB2533623. Its presence is what Microsoft names
  // as the sign that LoadLibraryEx takes the LOAD_LIBRARY_SEARCH_* flags.
  BOOL(WINAPI* SetDefaultDllDirectories)(DWORD flags) = nullptr;
};

// What this Windows has, looked up on first use: from user32 and kernel32, which every
// process of ours has loaded, and shcore from the system folder.
[[nodiscard]] const NewerWindows& Newer();

// Makes the program take every older way from now on, as on Windows 7 SP1 without
// updates, but for the functions `kept` gives (a test's stand-ins, or the table this
// returned before, to put it back): for tests, which run on a newer system.
NewerWindows HideNewerWindows(const NewerWindows& kept = {});

// Restricts every later DLL load of the process to the system folder where Windows can,
// and takes the current folder out of the search where it cannot: the program's first
// act, before any window, control or COM call.
void LoadDllsFromTheSystemFolderOnly();

// Loads one of Windows' own DLLs from the system folder, whatever lies beside the program
// or in the current folder, with the DLLs it needs in turn looked for there first too.
// Null when it cannot be loaded. Never freed by its callers.
[[nodiscard]] HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace toolkit
