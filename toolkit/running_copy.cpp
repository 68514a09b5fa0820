#include "toolkit/running_copy.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace toolkit {
namespace {

constexpr wchar_t kWindowClass[] = L"MorvaneRunningCopy";
// What a copy of ours answers, so that a window of another program is never taken for one.
constexpr LRESULT kComingForward = 0x4D6F7276;
// Posted to itself: the second start is answered at once and served from the loop, where
// a window that has to load again may take its time.
constexpr UINT kServeSecondStart = WM_APP + 1;

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
  [[nodiscard]] void* get() const noexcept { return address_; }

 private:
  void* address_;
};

}  // namespace

bool HandOverToRunningCopy(const wchar_t* name, std::chrono::milliseconds patience) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(patience.count());
  const UniqueKernelHandle published(::OpenFileMappingW(FILE_MAP_READ, FALSE, name));
  if (!published) return false;  // no copy runs
  const View view(published.get(), FILE_MAP_READ);
  if (!view.get()) return false;
  // A copy that is starting this very moment names its window just after taking the name.
  HWND window = nullptr;
  for (;;) {
    Published value = 0;
    std::memcpy(&value, view.get(), sizeof value);
    window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
    if (window || ::GetTickCount64() >= deadline) break;
    ::Sleep(20);
  }
  DWORD process = 0;
  if (!window || !::GetWindowThreadProcessId(window, &process)) return false;
  // Windows lets the program the user just started take the foreground; the running copy
  // may take it in its place.
  ::AllowSetForegroundWindow(process);
  const ULONGLONG now = ::GetTickCount64();
  if (now >= deadline) return false;
  DWORD_PTR answer = 0;
  const LRESULT sent = ::SendMessageTimeoutW(window, HandOverMessage(), 0, 0, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                                             static_cast<UINT>(deadline - now), &answer);
  return sent != 0 && static_cast<LRESULT>(answer) == kComingForward;
}

RunningCopy::RunningCopy(const wchar_t* name, std::function<void()> on_second_start)
    : on_second_start_(std::move(on_second_start)) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &RunningCopy::WindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassExW(&window_class);  // or registered already
  window_.reset(
      ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, window_class.hInstance, this));
  if (!window_) return;
  UniqueKernelHandle published(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Published), name));
  if (!published || ::GetLastError() == ERROR_ALREADY_EXISTS) return;  // not ours to write
  const View view(published.get(), FILE_MAP_WRITE);
  if (!view.get()) return;
  const auto value = static_cast<Published>(reinterpret_cast<std::uintptr_t>(window_.get()));
  std::memcpy(view.get(), &value, sizeof value);
  published_ = std::move(published);
}

LRESULT CALLBACK RunningCopy::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  const UINT hand_over = HandOverMessage();
  if (hand_over != 0 && message == hand_over) {
    ::PostMessageW(window, kServeSecondStart, 0, 0);
    return kComingForward;
  }
  if (message == kServeSecondStart) {
    auto* self = reinterpret_cast<RunningCopy*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->on_second_start_) self->on_second_start_();
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace toolkit
