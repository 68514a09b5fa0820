// Helpers of the window tests: a launcher that only records, a message box that
// records and can stay "open" (pumping messages, as a modal box does), a sleep hold
// that holds nothing, and waiting on the UI thread without freezing its windows.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/form.h"
#include "toolkit/handles.h"
#include "toolkit/message_box.h"
#include "toolkit/message_loop.h"
#include "toolkit/power.h"
#include "toolkit/process.h"

namespace test_support {

using Clock = toolkit::SteadyClock;
using std::chrono::milliseconds;

// std::thread and std::mutex as the tests use them, on Windows' own threads and slim
// locks: GCC 12's win32 thread model, which the program is built with, has neither.
class Thread {
 public:
  Thread() = default;
  template <typename Body>
  explicit Thread(Body&& body) : body_(std::make_unique<std::function<void()>>(std::forward<Body>(body))) {
    handle_.reset(::CreateThread(nullptr, 0, &Run, body_.get(), 0, nullptr));
    if (!handle_) std::abort();  // as std::thread throws: no test goes on without its thread
  }
  Thread(Thread&&) noexcept = default;
  Thread& operator=(Thread&& other) noexcept {
    if (joinable()) std::abort();  // as std::thread's: its body is never freed under it
    body_ = std::move(other.body_);
    handle_ = std::move(other.handle_);
    return *this;
  }
  ~Thread() {
    if (joinable()) std::abort();  // as std::thread's: never left running
  }
  [[nodiscard]] bool joinable() const noexcept { return static_cast<bool>(handle_); }
  void join() {
    ::WaitForSingleObject(handle_.get(), INFINITE);
    handle_.reset();
    body_.reset();
  }

 private:
  static DWORD WINAPI Run(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
  }
  std::unique_ptr<std::function<void()>> body_;
  toolkit::UniqueKernelHandle handle_;
};

class Mutex {
 public:
  void lock() { ::AcquireSRWLockExclusive(&lock_); }
  void unlock() { ::ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};


// Never starts anything: the tests must not shut down or restart the machine. A watched
// launch gets a watch on an event never set, so it posts nothing; End then posts its
// end as the watch would.
class RecordingLauncher final : public toolkit::Launcher {
 public:
  struct Record {
    std::wstring command_line;
    int show_style;
    Clock::time_point at;
    bool watched = false;
    HWND window = nullptr;  // where the end of a watched launch goes
    UINT message = 0;
    DWORD id = 0;
    std::wstring without_cmd = {};  // the same command for where cmd.exe will not run
  };

  bool Launch(std::wstring_view command_line, int show_style) override {
    launches.push_back({std::wstring(command_line), show_style, Clock::now()});
    return !fails;
  }

  std::optional<toolkit::StartedCommand> LaunchWatched(const toolkit::Command& command, int show_style, HWND window,
                                                       UINT message) override {
    // A watch that could not be set up pins no id: the next launch may be given it again.
    const DWORD id = unwatched ? last_id_ + 1 : ++last_id_;
    launches.push_back({std::wstring(command.line), show_style, Clock::now(), true, window, message, id,
                        std::wstring(command.without_cmd)});
    if (fails) return std::nullopt;
    std::wstring program = toolkit::ProgramOfCommandLine(command.line);
    if (unwatched) return toolkit::StartedCommand{toolkit::ExitWatch(id), std::move(program)};
    return toolkit::StartedCommand{
        toolkit::ExitWatch(toolkit::UniqueKernelHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), id, window,
                           message),
        std::move(program)};
  }

  // The launch `index` ends with `exit_code`, told as the real watch tells it.
  bool End(std::size_t index, DWORD exit_code) const {
    const Record& launch = launches.at(index);
    return ::PostMessageW(launch.window, launch.message, exit_code, static_cast<LPARAM>(launch.id)) != FALSE;
  }

  std::vector<Record> launches;
  bool fails = false;      // answer as if the program could not be started
  bool unwatched = false;  // answer with a watch that could not be set up

 private:
  DWORD last_id_ = 1000;
};

class ScriptedPrompter final : public toolkit::Prompter {
 public:
  struct Prompt {
    HWND owner;
    std::wstring prompt;
    unsigned flags;
    std::wstring title;
    bool owner_shown;  // the owner was visible and not minimised when the box came
  };

  int MsgBox(HWND owner, std::wstring_view prompt, unsigned flags, std::wstring_view title) override {
    const bool shown = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);
    prompts.push_back({owner, std::wstring(prompt), flags, std::wstring(title), shown});
    ++open;
    if (open_for.count() > 0) {
      // The user leaves the box open: the thread keeps dispatching, as a modal box does.
      toolkit::PumpMessagesUntil(
          [this] {
            if (while_open) while_open();
            return false;
          },
          open_for);
    }
    --open;
    return IDOK;
  }

  std::vector<Prompt> prompts;
  milliseconds open_for{0};
  std::function<void()> while_open;  // called between the messages dispatched while open
  int open = 0;
};

// Puts a test's function where the program calls one of Windows' (a seam such as
// toolkit::flash_window) for the scope, and Windows' back after.
template <typename Function>
class StandIn {
 public:
  StandIn(Function& seam, Function test_function) : seam_(seam), system_(std::exchange(seam, test_function)) {}
  ~StandIn() { seam_ = system_; }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

 private:
  Function& seam_;
  Function system_;
};

// Stands in for FlashWindowEx, which Wine does not show: notes each window flashed until
// it comes to the front.
class RecordingFlash {
 public:
  RecordingFlash() { flashed_.clear(); }
  [[nodiscard]] const std::vector<HWND>& Flashed() const noexcept { return flashed_; }

 private:
  static BOOL WINAPI Flash(PFLASHWINFO info) {
    if (info->dwFlags == (FLASHW_ALL | FLASHW_TIMERNOFG)) flashed_.push_back(info->hwnd);
    return TRUE;
  }
  static inline std::vector<HWND> flashed_;
  StandIn<toolkit::FlashFunction> stand_in_{toolkit::flash_window, &Flash};
};

// Keeps no machine awake: records each hold taken (anew, or renamed) and whether one is held.
class RecordingSleepHold final : public toolkit::IdleSleepHold {
 public:
  void Take(const wchar_t* reason) override {
    reasons.emplace_back(reason);
    held = true;
  }
  void Release() override { held = false; }

  std::vector<std::wstring> reasons;
  bool held = false;
};

// Installed after the program's message filter, so it runs first: hands the rest of the
// chain a copy of each message, as Windows does (Wine passes the caller's MSG on), and
// notes how deeply the chain re-enters itself, up to a few levels rather than the stack's end.
class CopyingMessageFilter {
 public:
  CopyingMessageFilter() { depth_ = deepest_ = 0; }
  [[nodiscard]] int Deepest() const noexcept { return deepest_; }

 private:
  static LRESULT CALLBACK Filter(int code, WPARAM wparam, LPARAM lparam) {
    if (code < 0 || !lparam) return ::CallNextHookEx(nullptr, code, wparam, lparam);
    deepest_ = std::max(deepest_, ++depth_);
    MSG copy = *reinterpret_cast<const MSG*>(lparam);
    const LRESULT result = depth_ > 4 ? 0 : ::CallNextHookEx(nullptr, code, wparam, reinterpret_cast<LPARAM>(&copy));
    --depth_;
    return result;
  }

  toolkit::UniqueHook hook_{::SetWindowsHookExW(WH_MSGFILTER, &Filter, nullptr, ::GetCurrentThreadId())};
  static inline int depth_ = 0;
  static inline int deepest_ = 0;
};

// Dispatches messages for the given time.
inline void Pump(milliseconds duration) {
  toolkit::PumpMessagesUntil([] { return false; }, duration);
}

// Dispatches messages until `done` (checked after every message) or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, milliseconds limit) {
  return toolkit::PumpMessagesUntil(done, limit);
}

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[512] = {};
  ::GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

inline DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE)); }

// A control's rectangle in its parent form's client area, in pixels.
inline RECT RectInParent(HWND control) {
  RECT r{};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

inline SIZE ClientSize(HWND hwnd) {
  RECT r{};
  ::GetClientRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// Whether a label's text, wrapped at the label's width in the label's own font as a
// static control draws it, fits the label's height. The boxes were drawn for 宋体, which
// the test prefix has as a stand-in with its metrics.
inline ::testing::AssertionResult TextFits(HWND label) {
  RECT box{};
  ::GetClientRect(label, &box);
  RECT needed{0, 0, box.right, 0};
  const std::wstring text = WindowText(label);
  HDC dc = ::GetDC(label);
  const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(label, WM_GETFONT, 0, 0)));
  ::DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  ::SelectObject(dc, old);
  ::ReleaseDC(label, dc);
  if (needed.bottom <= box.bottom) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "needs " << needed.bottom << " px, has " << box.bottom << ", in "
                                       << std::wstring(face);
}

inline std::wstring ModulePath() {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
  return std::wstring(buffer, n);
}

inline std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

inline bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

inline bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A fresh folder under %TEMP%, removed with its files (one level deep) afterwards.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"morvane_test_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(++Counter());
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() { RemoveTree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  [[nodiscard]] const std::wstring& path() const noexcept { return path_; }
  [[nodiscard]] std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring full = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(full);
        } else {
          // A just-started stub may still hold its own file for a moment.
          for (int attempt = 0; attempt < 50 && !::DeleteFileW(full.c_str()); ++attempt) ::Sleep(100);
        }
      } while (::FindNextFileW(find, &found));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
  }

  std::wstring path_;
};

// Sets an environment variable or the current directory for one test, then restores it.
class ScopedPath {
 public:
  explicit ScopedPath(const std::wstring& value) {
    const DWORD n = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    had_ = n != 0;
    if (had_) {
      old_.resize(n);
      old_.resize(::GetEnvironmentVariableW(L"PATH", old_.data(), n));
    }
    ::SetEnvironmentVariableW(L"PATH", value.c_str());
  }
  ~ScopedPath() { ::SetEnvironmentVariableW(L"PATH", had_ ? old_.c_str() : nullptr); }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  bool had_ = false;
  std::wstring old_;
};

class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::wstring& folder) {
    wchar_t buffer[MAX_PATH * 4] = {};
    old_.assign(buffer, ::GetCurrentDirectoryW(MAX_PATH * 4, buffer));
    ::SetCurrentDirectoryW(folder.c_str());
  }
  ~ScopedCurrentDirectory() { ::SetCurrentDirectoryW(old_.c_str()); }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::wstring old_;
};

}  // namespace test_support
