// What a static control keeps after it is destroyed, in a bare Win32 program with no
// toolkit: a parent window, then 1000 times a static child is created, optionally given
// a font with WM_SETFONT, and destroyed. Prints the bytes and blocks still allocated in
// the process's heaps afterwards, per static control. Figures only.
//
//   static_font_leak.exe [v6] [font]
//     v6    the common controls 6 statics (as a program with the usual manifest gets),
//           through an activation context made from a manifest written to %TEMP%
//     font  send WM_SETFONT to each static before destroying it
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

struct HeapUse {
  unsigned long long bytes = 0, blocks = 0;
};

HeapUse BusyInHeaps() {
  HeapUse use;
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < count && i < 64; ++i) {
    PROCESS_HEAP_ENTRY entry{};
    HeapLock(heaps[i]);
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
        use.bytes += entry.cbData;
        ++use.blocks;
      }
    }
    HeapUnlock(heaps[i]);
  }
  return use;
}

bool ActivateCommonControls6() {
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, path);
  wcscat_s(path, L"static_font_leak.manifest");
  const char manifest[] =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><dependency>"
      "<dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
      "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
      "</dependentAssembly></dependency></assembly>";
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, manifest, sizeof manifest - 1, &written, nullptr);
  CloseHandle(file);
  ACTCTXW context{};
  context.cbSize = sizeof context;
  context.lpSource = path;
  HANDLE actctx = CreateActCtxW(&context);
  ULONG_PTR cookie = 0;
  return actctx != INVALID_HANDLE_VALUE && ActivateActCtx(actctx, &cookie);  // kept for the run
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool v6 = false, font = false;
  for (int i = 1; i < argc; ++i) {
    if (!wcscmp(argv[i], L"v6")) v6 = true;
    if (!wcscmp(argv[i], L"font")) font = true;
  }
  if (v6 && !ActivateCommonControls6()) {
    std::printf("no common controls 6 activation context\n");
    return 1;
  }
  HWND parent = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  HFONT gui_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  auto cycle = [&] {
    HWND label = CreateWindowExW(0, L"STATIC", L"label", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 100, 20, parent,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    if (font) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(gui_font), FALSE);
    DestroyWindow(label);
  };
  for (int i = 0; i < 10; ++i) cycle();  // first-use allocations out of the way
  const HeapUse before = BusyInHeaps();
  constexpr int kCycles = 1000;
  for (int i = 0; i < kCycles; ++i) cycle();
  const HeapUse after = BusyInHeaps();
  std::printf("%s statics, %s: %.1f bytes and %.2f blocks kept per static control\n",
              v6 ? "common controls 6" : "user32", font ? "WM_SETFONT" : "no font",
              static_cast<double>(after.bytes - before.bytes) / kCycles,
              static_cast<double>(after.blocks - before.blocks) / kCycles);
  DestroyWindow(parent);
  return 0;
}
