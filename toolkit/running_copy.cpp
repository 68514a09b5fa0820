#include "toolkit/running_copy.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace toolkit {

MessageFilterFunction change_message_filter = &::ChangeWindowMessageFilterEx;
LendForegroundFunction lend_foreground = &::AllowSetForegroundWindow;

namespace {

constexpr wchar_t kWindowClass[] = L"MorvaneRunningCopy";
// The hand-over is one registered message, so that one message alone passes the filter.
// Sent with kWhoAreYou, a copy of ours answers with its process's id: a window of another
// program that the handle has come to answers with something else. Then posted with
// kComeForward, the copy brings its window forward, from its message loop.
constexpr WPARAM kWhoAreYou = 0;
constexpr WPARAM kComeForward = 1;
// How often a start polls for the window of a copy that is still starting.
constexpr DWORD kPublishPollMs = 20;

// The handle of the answering window, as the named memory holds it: window handles are
// the same in every process of the session.
using Published = std::uint64_t;

UINT HandOverMessage() { return ::RegisterWindowMessageW(L"MorvaneShutdown.SecondStart"); }

// A view of the named memory, unmapped with its owner.
class View {
 public:
  View(HANDLE mapping, DWORD access) : address_(::MapViewOfFile(mapping, access, 0, 0, sizeof(Published))) {}
  ~View() {
    if (address_) ::UnmapViewOfFile(address_);
  }
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  // The value is written once, whole, by another process: a view's start is page-aligned,
  // and an aligned 8-byte read sees it either not yet written or written.
  [[nodiscard]] HWND Window() const {
    const Published value = *static_cast<const volatile Published*>(address_);
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
  }
  void SetWindow(HWND window) {
    *static_cast<volatile Published*>(address_) = static_cast<Published>(reinterpret_cast<std::uintptr_t>(window));
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

// The named memory's security: what Windows gives an object of this process by default,
// and the user's right to read it. Run as administrator (以管理员身份运行), the default
// lets administrators and SYSTEM alone open it, and the same user's start without
// elevation would find the name taken and the copy out of reach. Nothing else changes:
// the user's own starts may read the window's handle, never write it.
class ReadableByTheUser {
 public:
  ReadableByTheUser() {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return;
    const UniqueKernelHandle token(opened);
    const std::vector<BYTE> user = TokenInformation(token.get(), TokenUser);
    const std::vector<BYTE> defaults = TokenInformation(token.get(), TokenDefaultDacl);
    if (user.empty() || defaults.empty()) return;
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    ACL* dacl = reinterpret_cast<const TOKEN_DEFAULT_DACL*>(defaults.data())->DefaultDacl;
    ACL_SIZE_INFORMATION size{};
    // Without a default DACL the object would have none, and anyone may read it already.
    if (!dacl || !::GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) return;
    const DWORD bytes = size.AclBytesInUse + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid);
    acl_.resize((bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
    ACL* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!::InitializeAcl(acl, static_cast<DWORD>(acl_.size() * sizeof(DWORD)), dacl->AclRevision)) return;
    for (DWORD i = 0; i < size.AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace) ||
          !::AddAce(acl, dacl->AclRevision, MAXDWORD, ace, static_cast<const ACE_HEADER*>(ace)->AceSize))
        return;
    }
    if (!::AddAccessAllowedAce(acl, dacl->AclRevision, FILE_MAP_READ, sid) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
      return;
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    ready_ = true;
  }
  ReadableByTheUser(const ReadableByTheUser&) = delete;
  ReadableByTheUser& operator=(const ReadableByTheUser&) = delete;

  // Null, for Windows' default, where the token could not be read.
  [[nodiscard]] SECURITY_ATTRIBUTES* get() noexcept { return ready_ ? &attributes_ : nullptr; }

 private:
  std::vector<DWORD> acl_;  // an ACL, DWORD-aligned as Windows asks
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

}  // namespace

RunningCopy::RunningCopy(const wchar_t* name) {
  ReadableByTheUser security;
  ::SetLastError(ERROR_SUCCESS);  // what a fresh object leaves is not promised
  mapping_.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0, sizeof(Published), name));
  const DWORD error = ::GetLastError();
  holds_ = mapping_ && error != ERROR_ALREADY_EXISTS;
  // An elevated copy's name, which this process may only read.
  if (!mapping_ && error == ERROR_ACCESS_DENIED) mapping_.reset(::OpenFileMappingW(FILE_MAP_READ, FALSE, name));
}

bool RunningCopy::HandOver(std::chrono::milliseconds publish_wait, std::chrono::milliseconds answer_wait) const {
  if (holds_ || !mapping_) return false;
  const View view(mapping_.get(), FILE_MAP_READ);
  if (!view) return false;
  // A copy that started a moment ago names its window once the window exists.
  const ULONGLONG give_up = ::GetTickCount64() + static_cast<ULONGLONG>(publish_wait.count());
  HWND window = view.Window();
  while (!window && ::GetTickCount64() < give_up) {
    ::Sleep(kPublishPollMs);
    window = view.Window();
  }
  DWORD process = 0;
  if (!window || !::GetWindowThreadProcessId(window, &process)) return false;
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
  if (!holds_ || window_) return;
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
  // may reach this window.
  change_message_filter(window_.get(), hand_over, MSGFLT_ALLOW, nullptr);
  View view(mapping_.get(), FILE_MAP_WRITE);
  if (view) view.SetWindow(window_.get());
}

LRESULT CALLBACK RunningCopy::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  const UINT hand_over = HandOverMessage();
  if (hand_over == 0 || message != hand_over) return ::DefWindowProcW(window, message, wparam, lparam);
  if (wparam == kWhoAreYou) return static_cast<LRESULT>(::GetCurrentProcessId());
  // Served from the loop only, where a window that has to load again may take its time:
  // never inside another process's send.
  if (wparam == kComeForward && !::InSendMessage()) {
    auto* self = reinterpret_cast<RunningCopy*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->on_second_start_) self->on_second_start_();
  }
  return 0;
}

void ComeForward(Form& form) {
  // Set while a load this call began runs: the load pumps messages, and a further second
  // start meanwhile would show the window half made. The load ends in showing it.
  static bool loading = false;
  if (loading) return;
  HWND window = form.hwnd();
  if (window && !::IsWindowEnabled(window)) {
    // A box of the form's holds the input: the form comes back with it, and the box, the
    // popup it owns that was active last, takes the foreground, where its keys work.
    form.ShowWithoutActivating();  // on a screen, above the others
    ::SetForegroundWindow(::GetLastActivePopup(window));
    return;
  }
  loading = !form.IsLoaded();
  form.Show();
  loading = false;
}

}  // namespace toolkit
