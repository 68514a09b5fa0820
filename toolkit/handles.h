// Move-only owners for the Windows handles the program holds. Each type frees its
// handle exactly once; copying is deleted so a handle can never be released twice.
#pragma once

#include <windows.h>

#include <utility>

namespace toolkit {

template <typename Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::pointer;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(pointer handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] pointer get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

  [[nodiscard]] pointer release() noexcept { return std::exchange(handle_, Traits::invalid()); }
  void reset(pointer handle = Traits::invalid()) noexcept {
    pointer old = std::exchange(handle_, handle);
    if (old != Traits::invalid()) Traits::close(old);
  }

 private:
  pointer handle_ = Traits::invalid();
};

struct WindowTraits {
  using pointer = HWND;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::DestroyWindow(h); }
};

template <typename Gdi>
struct GdiObjectTraits {
  using pointer = Gdi;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::DeleteObject(h); }
};

struct IconTraits {
  using pointer = HICON;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::DestroyIcon(h); }
};

struct CursorTraits {
  using pointer = HCURSOR;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::DestroyCursor(h); }
};

struct KernelTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::CloseHandle(h); }
};

// A wait registered with RegisterWaitForSingleObject. Unregistering waits for a callback
// that is running at that moment, so whatever the callback uses may be freed afterwards.
// Never to be dropped inside its own callback, which would then wait for itself.
struct WaitTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::UnregisterWaitEx(h, INVALID_HANDLE_VALUE); }
};

// A power request set to keep the system from idle sleep: its count is cleared before
// the request is closed, as Windows asks, so the hold ends with its owner.
struct SystemRequiredTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept {
    ::PowerClearRequest(h, PowerRequestSystemRequired);
    ::CloseHandle(h);
  }
};

// A hook of the thread's messages (SetWindowsHookEx). Constant-initialised, so one may
// be held at namespace scope without code running before the program's first line.
struct HookTraits {
  using pointer = HHOOK;
  static constexpr pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::UnhookWindowsHookEx(h); }
};

struct RegistryKeyTraits {
  using pointer = HKEY;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::RegCloseKey(h); }
};

using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueCursor = UniqueHandle<CursorTraits>;
using UniqueKernelHandle = UniqueHandle<KernelTraits>;
using UniqueWait = UniqueHandle<WaitTraits>;
using UniqueSystemRequired = UniqueHandle<SystemRequiredTraits>;
using UniqueHook = UniqueHandle<HookTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

}  // namespace toolkit
