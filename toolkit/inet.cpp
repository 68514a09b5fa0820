#include "toolkit/inet.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "toolkit/dll_function.h"
#include "toolkit/newer_windows.h"
#include "toolkit/handles.h"

namespace toolkit {

// WinINet's functions, looked up by name in the wininet.dll of the system folder. The
// program does not import WinINet: it is not one of Windows' Known DLLs, so Windows
// would look for an imported one in the program's own folder first (a Downloads
// folder, where a web page may have left a wininet.dll) before any of our code runs.
struct WinInet {
  decltype(&::InternetCrackUrlW) InternetCrackUrlW = nullptr;
  decltype(&::InternetOpenW) InternetOpenW = nullptr;
  decltype(&::InternetSetOptionW) InternetSetOptionW = nullptr;
  decltype(&::InternetConnectW) InternetConnectW = nullptr;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW = nullptr;
  decltype(&::HttpSendRequestW) HttpSendRequestW = nullptr;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW = nullptr;
  decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable = nullptr;
  decltype(&::InternetReadFile) InternetReadFile = nullptr;
  decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
};

namespace {

// WinINet with every function the fetch calls, or none. Once loaded, the library stays
// until the process ends, as what Visual C++'s delay loading loads does: a worker
// abandoned at its deadline may still be inside WinINet when everything else has
// ended, and nothing may unload it under that worker. So it is never freed, and each
// worker has its own copy of the table.
std::unique_ptr<const WinInet> LoadWinInet() {
  const HMODULE m = LoadSystemLibrary(L"wininet.dll");
  if (!m) return nullptr;
  WinInet api;
  const bool complete = FindFunction(m, "InternetCrackUrlW", api.InternetCrackUrlW) &&
                        FindFunction(m, "InternetOpenW", api.InternetOpenW) &&
                        FindFunction(m, "InternetSetOptionW", api.InternetSetOptionW) &&
                        FindFunction(m, "InternetConnectW", api.InternetConnectW) &&
                        FindFunction(m, "HttpOpenRequestW", api.HttpOpenRequestW) &&
                        FindFunction(m, "HttpSendRequestW", api.HttpSendRequestW) &&
                        FindFunction(m, "HttpQueryInfoW", api.HttpQueryInfoW) &&
                        FindFunction(m, "InternetQueryDataAvailable", api.InternetQueryDataAvailable) &&
                        FindFunction(m, "InternetReadFile", api.InternetReadFile) &&
                        FindFunction(m, "InternetCloseHandle", api.InternetCloseHandle);
  if (complete) return std::make_unique<const WinInet>(api);
  // An incomplete WinInet is of no use, and nothing of it was called: it goes again.
  ::FreeLibrary(m);
  return nullptr;
}

// A WinINet handle, closed through the table that opened it.
class InternetHandle {
 public:
  InternetHandle(const WinInet& api, HINTERNET handle) noexcept : api_(api), handle_(handle) {}
  ~InternetHandle() {
    if (handle_) api_.InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  [[nodiscard]] HINTERNET get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  const WinInet& api_;
  HINTERNET handle_;
};

struct Target {
  std::wstring host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::wstring path;  // with any query
  bool secure = false;
};

std::optional<Target> Crack(const WinInet& api, std::wstring_view url) {
  const std::wstring text(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths without buffers: the parts come back as pointers into `text`.
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!api.InternetCrackUrlW(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) return std::nullopt;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
  if (!parts.lpszHostName || parts.dwHostNameLength == 0) return std::nullopt;
  Target target;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (parts.lpszUrlPath) target.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) target.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.path.empty()) target.path = L"/";
  return target;
}

// One request, shared by the caller's InetFetch and its worker thread.
//
// Why no handle can be used after it was closed: the worker alone makes every WinINet
// call of its request and closes every one of its handles, all on its own thread. The
// caller never touches a WinINet handle. It reads the outcome once `finished` is set,
// or walks away by setting `abandoned`, which the worker checks before each call. So a
// handle is never closed while a call on it can start or run on another thread, and no
// call can land on a handle value that WinINet has since given to another request.
// An abandoned worker still ends soon after the deadline by itself: every blocking
// call is bounded by WinINet's time-outs, set to the time left, and the body is read
// as it arrives, with the deadline checked between reads.
struct Transfer {
  WinInet api;  // the worker's own copy
  Target target;
  InetClock::time_point deadline;
  DWORD caller_thread = 0;
  std::atomic<bool> abandoned{false};
  std::atomic<bool> finished{false};
  std::optional<InetResponse> response;  // written by the worker before `finished`
  std::atomic<int> holders{2};           // the caller's fetch and the worker

  void Release() {
    if (holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  [[nodiscard]] bool GoOn() const { return !abandoned.load() && InetClock::now() < deadline; }

  [[nodiscard]] DWORD MillisecondsLeft() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - InetClock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 1, MAXLONG));
  }
};

std::string Narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string ContentType(const WinInet& api, HINTERNET request) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (api.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, buffer.data(), &bytes, nullptr)) {
      return Narrow(std::wstring_view(buffer.data(), bytes / sizeof(wchar_t)));
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
  return {};
}

std::optional<InetResponse> Exchange(const Transfer& transfer) {
  const WinInet& api = transfer.api;
  const Target& target = transfer.target;
  const InternetHandle session(
      api, api.InternetOpenW(L"MorvaneShutdown", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session || !transfer.GoOn()) return std::nullopt;
  // WinINet's own limits bound every blocking call by the time left.
  DWORD timeout_ms = transfer.MillisecondsLeft();
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    api.InternetSetOptionW(session.get(), option, &timeout_ms, sizeof timeout_ms);
  DWORD retries = 1;
  api.InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);

  const InternetHandle connection(api, api.InternetConnectW(session.get(), target.host.c_str(), target.port, nullptr,
                                                            nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection || !transfer.GoOn()) return std::nullopt;

  // The site may move from http to https: WinINet on Windows refuses that redirect
  // (12039) unless told to follow it, as Wine's does anyway. The https leg's certificate is
  // checked as ever; the way back down to http stays refused.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  if (target.secure) flags |= INTERNET_FLAG_SECURE;
  const wchar_t* accept[] = {L"*/*", nullptr};
  const InternetHandle request(
      api, api.HttpOpenRequestW(connection.get(), L"GET", target.path.c_str(), nullptr, nullptr, accept, flags, 0));
  if (!request || !transfer.GoOn()) return std::nullopt;
  if (!api.HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) return std::nullopt;

  InetResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!api.HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return std::nullopt;
  response.status = status;
  response.content_type = ContentType(api, request.get());

  // Read as it arrives: a read asks only for what is there (or one byte, which ends
  // at the end of the body), so a server that trickles cannot hold a read past the
  // deadline for long.
  std::vector<char> chunk(16 * 1024);
  while (response.body.size() < kInetBodyCap) {
    if (!transfer.GoOn()) return std::nullopt;
    DWORD available = 0;
    if (!api.InternetQueryDataAvailable(request.get(), &available, 0, 0)) return std::nullopt;
    const std::size_t room = std::min(chunk.size(), kInetBodyCap - response.body.size());
    const auto wanted = static_cast<DWORD>(std::clamp<std::size_t>(available, 1, room));
    DWORD got = 0;
    if (!api.InternetReadFile(request.get(), chunk.data(), wanted, &got)) return std::nullopt;
    if (got == 0) return response;
    response.body.append(chunk.data(), got);
  }
  // Cut off at the cap; the rest is never read.
  response.truncated = true;
  return response;
}

DWORD WINAPI Work(void* parameter) {
  auto* transfer = static_cast<Transfer*>(parameter);
// Visual C++ documents _CPPUNWIND as its sign of exceptions; its releases before 2019
// define no __cpp_exceptions, and would lose the catch-all without it.
#if defined(__cpp_exceptions) || defined(_CPPUNWIND)
  try {
    transfer->response = Exchange(*transfer);
  } catch (...) {
    transfer->response.reset();  // out of memory: no response
  }
#else
  // Built without exceptions (GCC): out of memory ends the program (app/gnu_runtime.cpp).
  transfer->response = Exchange(*transfer);
#endif
  transfer->finished.store(true, std::memory_order_release);
  // Wakes the caller's wait at once rather than at its next look.
  if (!transfer->abandoned.load()) ::PostThreadMessageW(transfer->caller_thread, WM_NULL, 0, 0);
  transfer->Release();
  return 0;
}

// The caller's side of a request on a worker thread.
class WorkerFetch final : public InetFetch {
 public:
  explicit WorkerFetch(Transfer* transfer) : transfer_(transfer) {}
  ~WorkerFetch() override {
    transfer_->abandoned.store(true);
    transfer_->Release();
  }

  [[nodiscard]] bool Done() const override { return transfer_->finished.load(std::memory_order_acquire); }

  [[nodiscard]] std::optional<InetResponse> Take() override {
    if (!Done()) return std::nullopt;
    return std::move(transfer_->response);
  }

 private:
  Transfer* transfer_;
};

// WinINet needs little stack; the reservation is what a worker may grow to.
constexpr SIZE_T kWorkerStack = 256 * 1024;

}  // namespace

Inet1::Inet1() = default;
Inet1::~Inet1() = default;

std::unique_ptr<InetFetch> Inet1::Begin(std::wstring_view url, InetClock::time_point deadline) {
  // Looked for once: without WinINet no request can go out, now or later, and every
  // fetch has failed.
  if (!wininet_tried_) {
    wininet_tried_ = true;
    wininet_ = LoadWinInet();
  }
  if (!wininet_) return std::make_unique<SettledFetch>(std::nullopt);
  std::optional<Target> target = Crack(*wininet_, url);
  if (!target || InetClock::now() >= deadline) return std::make_unique<SettledFetch>(std::nullopt);

  auto transfer = std::make_unique<Transfer>();
  transfer->api = *wininet_;
  transfer->target = std::move(*target);
  transfer->deadline = deadline;
  transfer->caller_thread = ::GetCurrentThreadId();
  // The thread is not waited for: the process may end while it is still blocked.
  const UniqueKernelHandle thread(
      ::CreateThread(nullptr, kWorkerStack, &Work, transfer.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (!thread) return std::make_unique<SettledFetch>(std::nullopt);
  return std::make_unique<WorkerFetch>(transfer.release());
}

}  // namespace toolkit
