// Stand-in for cmd.exe, shutdown.exe and explorer.exe in the tests.
//
// The program starts cmd.exe (or, where Windows will not run that, shutdown.exe)
// from the system folder and explorer.exe from the Windows folder, so the
// end-to-end tests put copies of this program there, in
// their own Wine prefix (and restore Windows' own afterwards). Every shutdown,
// restart or browser launch then lands here. All we do is note the launch and
// exit; the command line is never acted upon. Copies planted anywhere else
// note their launches too, which is how the tests show they never run.
//
// The note goes to the file named by MORVANE_LAUNCH_LOG, or else to
// launches.log beside this exe. One line per launch, UTF-8, tab separated:
//   <unix ms>\t<exe name, lower case>\t<wShowWindow or -1>\t<dwFlags hex>\t
//   <folder of this exe>\t<current folder>\t<command line>
//
// It exits with 0, or with the number written in exitcode.txt beside it, so the tests
// can have Windows refuse a command (1190: a shutdown is already scheduled). While a
// hang.txt lies beside it, it does not end, as a command interpreter that the
// administrator disabled waits for a key: the test ends it by removing the file (and
// it gives up by itself after two minutes, should a test leave the file behind).

#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;

unsigned long long unix_ms_now() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER t{};
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return (t.QuadPart - kUnixEpochTicks) / 10000ULL;
}

std::wstring own_path() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

std::string to_utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring own_folder() {
  const std::wstring path = own_path();
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The decimal number at the start of exitcode.txt beside this exe; 0 without one.
UINT exit_code() {
  HANDLE h = CreateFileW((own_folder() + L"exitcode.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  char text[32] = {};
  DWORD read = 0;
  ReadFile(h, text, sizeof(text) - 1, &read, nullptr);
  CloseHandle(h);
  unsigned long long code = 0;
  for (DWORD i = 0; i < read && text[i] >= '0' && text[i] <= '9' && code <= 0xFFFFFFFFULL; ++i)
    code = code * 10 + static_cast<unsigned>(text[i] - '0');
  return code <= 0xFFFFFFFFULL ? static_cast<UINT>(code) : 0;
}

void record_launch() {
  const unsigned long long ms = unix_ms_now();

  const std::wstring path = own_path();
  if (path.empty()) return;
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));

  STARTUPINFOW si{};
  si.cb = sizeof(si);
  GetStartupInfoW(&si);
  const int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? static_cast<int>(si.wShowWindow) : -1;

  wchar_t head[96];
  swprintf(head, sizeof(head) / sizeof(head[0]), L"%llu\t", ms);
  wchar_t mid[64];
  swprintf(mid, sizeof(mid) / sizeof(mid[0]), L"\t%d\t0x%lx\t", show, static_cast<unsigned long>(si.dwFlags));

  // The folder it was started in: cmd.exe looks there for "shutdown" before PATH.
  std::wstring current(MAX_PATH * 4, L'\0');
  const DWORD current_length = GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
  current.resize(current_length < current.size() ? current_length : 0);

  const wchar_t* cmdline = GetCommandLineW();
  std::wstring line = head;
  line += name;
  line += mid;
  line += dir.empty() ? dir : dir.substr(0, dir.size() - 1);
  line += L'\t';
  line += current;
  line += L'\t';
  line += cmdline ? cmdline : L"";
  line += L'\n';
  const std::string bytes = to_utf8(line);

  std::wstring log = dir + L"launches.log";
  wchar_t chosen[MAX_PATH * 4];
  const DWORD chosen_length = GetEnvironmentVariableW(L"MORVANE_LAUNCH_LOG", chosen, MAX_PATH * 4);
  if (chosen_length > 0 && chosen_length < MAX_PATH * 4) log = chosen;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every WriteFile goes to the
  // current end of file in one piece, so launches that overlap don't mix.
  HANDLE h = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

// Waits while hang.txt lies beside this exe.
void hang_while_asked() {
  const std::wstring marker = own_folder() + L"hang.txt";
  for (int i = 0; i < 1200 && GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  record_launch();
  hang_while_asked();
  return static_cast<int>(exit_code());
}
