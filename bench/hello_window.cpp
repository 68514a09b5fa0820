// The cheapest window a Win32 program can show: registered, created and shown
// straight away in wWinMain. Timing how long Wine takes from process start to
// this window being visible gives the cost of Wine itself, to take away from
// the program's own start-up figures. Closes on WM_CLOSE like any window.
//
//   hello_window.exe dlls   first loads the DLLs the program imports beyond
//                           kernel32/user32/gdi32 and initialises the common
//                           controls, as a baseline for memory figures
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <initializer_list>

static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  if (command_line && std::wcsstr(command_line, L"dlls")) {
    for (const wchar_t* dll : {L"comctl32.dll", L"shell32.dll", L"wininet.dll"}) LoadLibraryW(dll);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"BenchHello";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"bench-hello", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 300, 200, nullptr, nullptr, instance, nullptr);
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
