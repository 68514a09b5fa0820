#include "toolkit/running_copy.h"

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

namespace toolkit {

MessageFilterFunction change_message_filter = &::ChangeWindowMessageFilterEx;
LendForegroundFunction lend_foreground = &::AllowSetForegroundWindow;

namespace {

constexpr wchar_t kWindowClass[] = L"MorvaneRunningCopy";
// The hand-over is one registered message, so that one message alone passes the filter.
// Its name, like the copy's, carries the hand-over's version: the release before last
// answered any such message with a fixed number and came forward at once, the last one
// answered with its process id under the same names. Neither meets this one: each
// release finds only copies of its own kind. Sent with kWhoAreYou, a copy of ours answers
// with its process's id: a window of another program that the handle has come to answers
// with something else. Then posted with
// kComeForward, the copy brings its window forward, from its message loop.
constexpr WPARAM kWhoAreYou = 0;
constexpr WPARAM kComeForward = 1;
// How often a start polls for the window of a copy that is still starting.
constexpr DWORD kPublishPollMs = 20;
// Posted by the keeper to the copy's own window: the name is this copy's now.
constexpr UINT kNameIsOurs = WM_APP + 1;
// While the memory cannot be written, naming the window is tried again this often.
constexpr UINT_PTR kRenameTimer = 1;
constexpr UINT kRenameMs = 1000;
// The keeper only waits.
constexpr SIZE_T kKeeperStack = 64 * 1024;

// The handle of the answering window, as the named memory holds it: window handles are
// the same in every process of the session.
using Published = std::uint64_t;
// Shared between processes, so never through a lock of this one's.
static_assert(std::atomic_ref<Published>::is_always_lock_free);

UINT HandOverMessage() { return ::RegisterWindowMessageW(L"MorvaneShutdown.SecondStart.3"); }

// A view of the named memory, unmapped with its owner.
class View {
 public:
  View(HANDLE mapping, DWORD access) : address_(::MapViewOfFile(mapping, access, 0, 0, sizeof(Published))) {}
  ~View() {
    if (address_) ::UnmapViewOfFile(address_);
  }
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  // The value is written whole, by the holder alone, and read whole: one atomic 8-byte
  // access, which a 32-bit build too makes in one instruction (a view's start is
  // page-aligned). A window handle is the same in a 32-bit and a 64-bit process once
  // sign-extended, as Microsoft's page on 32/64-bit handles has it: so it is written
  // sign-extended, and a 32-bit copy reads its low half.
  [[nodiscard]] HWND Window() const {
    const Published value = std::atomic_ref<Published>(*static_cast<Published*>(address_)).load();
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int64_t>(value)));
  }
  void SetWindow(HWND window) {
    const auto value = static_cast<Published>(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(window)));
    std::atomic_ref<Published>(*static_cast<Published*>(address_)).store(value);
  }
  explicit operator bool() const noexcept { return address_ != nullptr; }

 private:
  void* address_;
};

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD size = 0;
  ::GetTokenInformation(token, what, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, what, buffer.data(), size, &size)) buffer.clear();
  return buffer;
}

// A full elevation type: run as administrator with UAC on. Without elevation (a limited
// token, or none linked), no program of the session sends from below this one's level.
bool TokenIsElevated() {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const UniqueKernelHandle token(opened);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return ::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) &&
         type == TokenElevationTypeFull;
}

// A named object's security: what Windows gives an object of this process by default,
// and `access` for the session's interactive users (the well-known INTERACTIVE group).
// Run as administrator (以管理员身份运行), the default lets administrators and SYSTEM
// alone open it, and the user's starts without elevation would find the name taken and
// the copy out of reach; and where another account's password was typed, the default
// names that account, not the user at the keyboard. What is granted gives nothing away:
// a window's handle, and the right to wait for the name.
class ReachableByTheSession {
 public:
  explicit ReachableByTheSession(DWORD access) {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return;
    const UniqueKernelHandle token(opened);
    const std::vector<BYTE> defaults = TokenInformation(token.get(), TokenDefaultDacl);
    DWORD sid_size = sizeof sid_;
    if (defaults.empty() || !::CreateWellKnownSid(WinInteractiveSid, nullptr, sid_, &sid_size)) return;
    ACL* dacl = reinterpret_cast<const TOKEN_DEFAULT_DACL*>(defaults.data())->DefaultDacl;
    ACL_SIZE_INFORMATION size{};
    // Without a default DACL the object would have none, and anyone may open it already.
    if (!dacl || !::GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) return;
    const DWORD bytes = size.AclBytesInUse + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid_);
    acl_.resize((bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
    ACL* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!::InitializeAcl(acl, static_cast<DWORD>(acl_.size() * sizeof(DWORD)), dacl->AclRevision)) return;
    for (DWORD i = 0; i < size.AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace) ||
          !::AddAce(acl, dacl->AclRevision, MAXDWORD, ace, static_cast<const ACE_HEADER*>(ace)->AceSize))
        return;
    }
    if (!::AddAccessAllowedAce(acl, dacl->AclRevision, access, sid_) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
      return;
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    ready_ = true;
  }
  ReachableByTheSession(const ReachableByTheSession&) = delete;
  ReachableByTheSession& operator=(const ReachableByTheSession&) = delete;

  // Null, for Windows' default, where the token could not be read.
  [[nodiscard]] SECURITY_ATTRIBUTES* get() noexcept { return ready_ ? &attributes_ : nullptr; }

 private:
  alignas(DWORD) BYTE sid_[SECURITY_MAX_SID_SIZE] = {};
  std::vector<DWORD> acl_;  // an ACL, DWORD-aligned as Windows asks
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

// The named memory, made or opened to write in; where another account's copy made it,
// which this process may only read, opened to read.
UniqueKernelHandle OpenNamedMemory(const std::wstring& name) {
  ReachableByTheSession security(FILE_MAP_READ);
  UniqueKernelHandle mapping(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0, sizeof(Published), name.c_str()));
  if (!mapping && ::GetLastError() == ERROR_ACCESS_DENIED)
    mapping.reset(::OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
  return mapping;
}

}  // namespace

ElevationQuery runs_elevated = &TokenIsElevated;

RunningCopy::RunningCopy(const wchar_t* name) : name_(name) {
  // The name is held by owning a mutex: Windows hands it to the next waiter when its
  // owner lets it go or ends, however it ends ("abandoned"), so a copy that crashed
  // leaves no name behind that no one can take. The named memory only says where the
  // holder's window is.
  ReachableByTheSession security(SYNCHRONIZE | MUTEX_MODIFY_STATE);
  const std::wstring holder = name_ + L".Holder";
  holder_.reset(::CreateMutexW(security.get(), FALSE, holder.c_str()));
  // Another account's copy, run as administrator: this process may wait for it.
  if (!holder_ && ::GetLastError() == ERROR_ACCESS_DENIED)
    holder_.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, holder.c_str()));
  mapping_ = OpenNamedMemory(name_);
  stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  tried_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!holder_ || !mapping_ || !stop_ || !tried_) return;  // unreachable, and starting as usual
  // A mutex belongs to a thread; the keeper holds it for this copy as long as it runs.
  keeper_.reset(
      ::CreateThread(nullptr, kKeeperStack, &RunningCopy::KeepName, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (keeper_) ::WaitForSingleObject(tried_.get(), INFINITE);
}

RunningCopy::~RunningCopy() { Withdraw(); }

DWORD WINAPI RunningCopy::KeepName(void* parameter) {
  auto* self = static_cast<RunningCopy*>(parameter);
  const HANDLE waits[] = {self->stop_.get(), self->holder_.get()};
  // First a try, which the constructor waits for; then, where the name is taken, a wait
  // until its holder lets it go or ends.
  DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, 0);
  ::SetEvent(self->tried_.get());
  if (result == WAIT_TIMEOUT) result = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (result != WAIT_OBJECT_0 + 1 && result != WAIT_ABANDONED_0 + 1) return 0;
  self->holds_ = true;
  if (HWND window = self->reachable_) ::PostMessageW(window, kNameIsOurs, 0, 0);
  ::WaitForSingleObject(self->stop_.get(), INFINITE);
  ::ReleaseMutex(self->holder_.get());
  return 0;
}

bool RunningCopy::HandOver(std::chrono::milliseconds publish_wait, std::chrono::milliseconds answer_wait) const {
  if (holds_ || !mapping_) return false;
  const View view(mapping_.get(), FILE_MAP_READ);
  if (!view) return false;
  // A copy that started a moment ago names its window once the window exists; so does a
  // copy that has just taken the name from one that ended, whose window is gone. Once
  // the holder has gone with no one to follow it, the name is this start's.
  const ULONGLONG give_up = ::GetTickCount64() + static_cast<ULONGLONG>(publish_wait.count());
  HWND window = nullptr;
  DWORD process = 0;
  for (;;) {
    if (holds_) return false;
    window = view.Window();
    if (window && ::GetWindowThreadProcessId(window, &process)) break;
    if (::GetTickCount64() >= give_up) return false;
    ::Sleep(kPublishPollMs);
  }
  const UINT hand_over = HandOverMessage();
  DWORD_PTR answer = 0;
  if (hand_over == 0 ||
      !::SendMessageTimeoutW(window, hand_over, kWhoAreYou, 0, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                             static_cast<UINT>(answer_wait.count()), &answer) ||
      answer != process)
    return false;
  // A copy of ours: Windows lets the program the user just started take the foreground,
  // and the copy may take it in its place.
  lend_foreground(process);
  return ::PostMessageW(window, hand_over, kComeForward, 0) != FALSE;
}

void RunningCopy::Publish(std::function<void()> on_second_start) {
  if (window_ || !keeper_) return;
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
  // Run as administrator, this copy's windows take no message from the user's programs
  // that run without elevation, a second start among them: the hand-over, and it alone,
  // may reach this window. Without elevation nothing sends from below, and no hole is made.
  if (runs_elevated()) change_message_filter(window_.get(), hand_over, MSGFLT_ALLOW, nullptr);
  // Whichever comes second, this or the keeper taking the name, names the window.
  reachable_ = window_.get();
  if (holds_) NameWindow();
}

void RunningCopy::NameWindow() {
  if (!View(mapping_.get(), FILE_MAP_WRITE)) {
    // Made by another account's copy run as administrator, which has ended: this process
    // could only read it, and makes it anew once no start has it open.
    mapping_.reset();
    mapping_ = OpenNamedMemory(name_);
  }
  View view(mapping_.get(), FILE_MAP_WRITE);
  if (view) {
    view.SetWindow(window_.get());
    ::KillTimer(window_.get(), kRenameTimer);
    return;
  }
  mapping_.reset();  // held, the old memory would never go
  ::SetTimer(window_.get(), kRenameTimer, kRenameMs, nullptr);
}

void RunningCopy::Withdraw() {
  // A window destroyed answers no one, and what was posted to it goes with it.
  reachable_ = nullptr;
  HWND window = window_.get();
  window_.reset();
  if (holds_ && window && mapping_) {
    View view(mapping_.get(), FILE_MAP_WRITE);
    if (view && view.Window() == window) view.SetWindow(nullptr);
  }
  mapping_.reset();  // kept open, it would keep the memory for a copy that cannot write it
  if (keeper_) {
    ::SetEvent(stop_.get());
    ::WaitForSingleObject(keeper_.get(), INFINITE);
    keeper_.reset();
  }
  holds_ = false;
}

LRESULT CALLBACK RunningCopy::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<RunningCopy*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == kNameIsOurs || message == WM_TIMER) {
    if (self && self->holds_) self->NameWindow();
    return 0;
  }
  const UINT hand_over = HandOverMessage();
  if (hand_over == 0 || message != hand_over) return ::DefWindowProcW(window, message, wparam, lparam);
  if (wparam == kWhoAreYou) return static_cast<LRESULT>(::GetCurrentProcessId());
  // Served from the loop only, where a window that has to load again may take its time:
  // never inside another process's send.
  if (wparam == kComeForward && !::InSendMessage() && self && self->on_second_start_) self->on_second_start_();
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
