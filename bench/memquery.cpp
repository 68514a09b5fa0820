// Prints another process's memory counters as Windows reports them:
//   memquery <windows pid>
//   -> ok <PeakWorkingSetSize> <WorkingSetSize> <PrivateUsage> <PeakPagefileUsage>
// (bytes), or "err <what> <GetLastError>". Run in the same Wine prefix as the
// process it looks at.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("err usage 0\n");
    return 2;
  }
  const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 0));
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) {
    std::printf("err OpenProcess %lu\n", GetLastError());
    return 1;
  }
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
    std::printf("err GetProcessMemoryInfo %lu\n", GetLastError());
    CloseHandle(process);
    return 1;
  }
  std::printf("ok %llu %llu %llu %llu\n", static_cast<unsigned long long>(counters.PeakWorkingSetSize),
              static_cast<unsigned long long>(counters.WorkingSetSize),
              static_cast<unsigned long long>(counters.PrivateUsage),
              static_cast<unsigned long long>(counters.PeakPagefileUsage));
  CloseHandle(process);
  return 0;
}
