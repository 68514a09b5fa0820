// Stand-in for a DLL that a web page dropped beside the program, in the tests.
//
// The end-to-end tests copy this one DLL beside the program under the names of
// Windows' own DLLs (wininet.dll, uxtheme.dll, version.dll...). Whenever a copy
// is loaded into a process, it leaves a note beside itself, named after itself
// (wininet.dll.loaded), holding the path of the program that loaded it. It does
// nothing else and exports nothing.
//
// Built without the C runtime, entry point DllMain, so that it needs nothing but
// kernel32: no copy can ever be asked to load another.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t note[MAX_PATH + 16];
  const DWORD length = ::GetModuleFileNameW(module, note, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const wchar_t suffix[] = L".loaded";
  for (DWORD i = 0; i < sizeof suffix / sizeof suffix[0]; ++i) note[length + i] = suffix[i];

  wchar_t loader[MAX_PATH];
  DWORD loader_length = ::GetModuleFileNameW(nullptr, loader, MAX_PATH);
  if (loader_length >= MAX_PATH) loader_length = 0;
  const HANDLE file = ::CreateFileW(note, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  DWORD written = 0;
  ::WriteFile(file, loader, loader_length * sizeof(wchar_t), &written, nullptr);
  ::CloseHandle(file);
  return TRUE;
}
