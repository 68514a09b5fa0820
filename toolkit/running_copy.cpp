#include "toolkit/running_copy.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace toolkit {

MessageFilterFunction change_message_filter = &::ChangeWindowMessageFilterEx;
LendForegroundFunction lend_foreground = &::AllowSetForegroundWindow;

namespace {

// The class, like the hand-over's message, carries the hand-over's version: earlier
// releases answered under other names and with other answers, and each release finds
// only copies of its own kind.
constexpr wchar_t kWindowClass[] = L"MorvaneShutdown.RunningCopy.4";
// The hand-over is one registered message, so that one message alone passes the filter.
// Sent with kWhoAreYou, a copy of ours answers with its process's id. With kComeForward it
// posts itself the showing (and answers the same, where an earlier release sent it).
constexpr WPARAM kWhoAreYou = 0;
constexpr WPARAM kComeForward = 1;
// Posted by the copy to its own window: the showing, served from its message loop.
constexpr UINT kShowFromTheLoop = WM_APP + 1;
// How often a start looks again for the window of a copy that is still starting.
constexpr DWORD kPollMs = 20;

UINT HandOverMessage() { return ::RegisterWindowMessageW(L"MorvaneShutdown.SecondStart.4"); }

// Above medium: what the message filter follows, whatever the elevation type (the
// built-in Administrator's token is high and has none linked).
bool TokenAboveMediumIntegrity() {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const UniqueKernelHandle token(opened);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL) ||
      !::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size))
    return false;
  PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (!sid || !::IsValidSid(sid)) return false;  // the reads below check nothing themselves
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  return count > 0 && *::GetSidSubAuthority(sid, count - 1u) > SECURITY_MANDATORY_MEDIUM_RID;
}

// Whether `window` answers as a copy of ours before `deadline` (GetTickCount64), and will
// come forward.
bool ComesForward(HWND window, UINT hand_over, ULONGLONG deadline) {
  DWORD process = 0;
  if (!::GetWindowThreadProcessId(window, &process)) return false;
  const ULONGLONG now = ::GetTickCount64();
  // Never a time-out of 0: with SMTO_ABORTIFHUNG "the time-out period has no effect, and
  // the call is treated as a blocking call" (code analysis warning C28604's page).
  if (now >= deadline) return false;
  // Busy is not hung: Windows calls a copy hung only once it has taken no message for 5 s,
  // so the answer has what is left of the start's wait. One Windows calls hung already, or
  // whose window goes meanwhile, ends the wait at once.
  DWORD_PTR answer = 0;
  if (!::SendMessageTimeoutW(window, hand_over, kWhoAreYou, 0, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                             static_cast<UINT>(deadline - now), &answer) ||
      answer != process)
    return false;
  // A copy of ours: Windows lets the program the user just started take the foreground,
  // and the copy may take it in its place when it shows.
  lend_foreground(process);
  // Told by a post, which is queued or is not: a send that timed out could still have
  // been served (once a copy has taken a message, its sender's time-out no longer stops
  // it), and that copy would come forward beside this start running as a second copy.
  return ::PostMessageW(window, hand_over, kComeForward, 0) != FALSE;
}

}  // namespace

ElevationQuery runs_elevated = &TokenAboveMediumIntegrity;

RunningCopy::RunningCopy(const wchar_t* mutex_name) : mutex_name_(mutex_name) { (void)MakeMutex(); }

RunningCopy::~RunningCopy() { Withdraw(); }

bool RunningCopy::MakeMutex() {
  ::SetLastError(ERROR_SUCCESS);
  mutex_.reset(::CreateMutexW(nullptr, FALSE, mutex_name_.c_str()));
  const DWORD error = ::GetLastError();
  // Denied: another account's copy run as administrator made it.
  another_ = error == ERROR_ALREADY_EXISTS || (!mutex_ && error == ERROR_ACCESS_DENIED);
  return mutex_ && error != ERROR_ALREADY_EXISTS;
}

bool RunningCopy::HandOver(std::chrono::milliseconds start_wait) {
  const UINT hand_over = HandOverMessage();
  if (hand_over == 0) return false;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max<std::int64_t>(start_wait.count(), 0));
  // Even with no copy starting, the copies found are asked: one that could not open
  // another account's mutex may have outlived it.
  bool waiting = another_;
  std::vector<HWND> asked;  // a copy that did not answer is not asked again
  for (;;) {
    bool found = false;
    for (HWND window = nullptr; (window = ::FindWindowExW(HWND_MESSAGE, window, kWindowClass, nullptr));) {
      if (window == window_.get() || std::find(asked.begin(), asked.end(), window) != asked.end()) continue;
      found = true;
      asked.push_back(window);
      if (ComesForward(window, hand_over, deadline)) return true;
    }
    // One that went meanwhile may have cut the walk short: walk again.
    if (found) continue;
    const ULONGLONG now = ::GetTickCount64();
    if (!waiting || now >= deadline) return false;
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kPollMs, deadline - now)));
    // Denied the mutex, this start holds no handle that would keep it, and tries again to
    // make it: made afresh, it went with the copy that made it, and one last walk decides.
    if (!mutex_ && MakeMutex()) waiting = false;
  }
}

void RunningCopy::Publish(std::function<void()> on_second_start) {
  if (window_) return;
  on_second_start_ = std::move(on_second_start);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &RunningCopy::WindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassExW(&window_class);  // or registered already
  window_.reset(
      ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, window_class.hInstance, this));
  const UINT hand_over = HandOverMessage();
  if (!window_ || hand_over == 0) return;
  // Above medium integrity, this copy's windows take no message from the user's programs
  // at medium, a second start among them: the hand-over, and it alone, may reach this
  // window. At medium nothing sends from below, and no hole is made.
  if (runs_elevated()) change_message_filter(window_.get(), hand_over, MSGFLT_ALLOW, nullptr);
}

void RunningCopy::Withdraw() {
  // The mutex first: a start from now on starts at once, and one that finds the window
  // before it goes gets no answer from it.
  mutex_.reset();
  window_.reset();
}

LRESULT CALLBACK RunningCopy::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<RunningCopy*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == kShowFromTheLoop) {
    // Served from the loop, where a window that has to load again may take its time:
    // never inside another process's send.
    if (self && self->on_second_start_) self->on_second_start_();
    return 0;
  }
  const UINT hand_over = HandOverMessage();
  if (hand_over == 0 || message != hand_over) return ::DefWindowProcW(window, message, wparam, lparam);
  // The answer is a yes to coming forward: only a copy that can come forward gives it.
  if (!self || !self->on_second_start_) return 0;
  const auto yes = static_cast<LRESULT>(::GetCurrentProcessId());
  if (wparam == kWhoAreYou) return yes;
  if (wparam == kComeForward && ::PostMessageW(window, kShowFromTheLoop, 0, 0)) return yes;
  return 0;
}

void ComeForward(Form& form) {
  // Set while a load this call began runs: the load pumps messages, and a further second
  // start meanwhile would show the window half made. The load ends in showing it.
  static bool loading = false;
  if (loading) return;
  loading = !form.IsLoaded();
  form.Show();
  loading = false;
}

}  // namespace toolkit
