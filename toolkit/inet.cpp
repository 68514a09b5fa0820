#include "toolkit/inet.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "toolkit/handles.h"
#include "toolkit/message_loop.h"

namespace toolkit {
namespace {

struct InternetTraits {
  using pointer = HINTERNET;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { ::InternetCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetTraits>;

struct Target {
  std::wstring host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::wstring path;  // with any query
  bool secure = false;
};

std::optional<Target> Crack(std::wstring_view url) {
  const std::wstring text(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths without buffers: the parts come back as pointers into `text`.
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!::InternetCrackUrlW(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) return std::nullopt;
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

// One request, shared by the caller and the worker thread; whichever finishes with it
// last frees it. The handles are closed by the worker when it is done, or by the
// caller when it gives up: closing them is what breaks a blocked call off.
struct Transfer {
  std::mutex mutex;
  bool finished = false;   // the worker is done; `response` holds its outcome
  bool abandoned = false;  // the caller has gone; the worker must make no further call
  std::optional<InetResponse> response;
  DWORD caller_thread = 0;
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;

  // Hands a new handle over; false (and the handle closed) once abandoned.
  bool Keep(UniqueInternet& slot, HINTERNET handle) {
    UniqueInternet owner(handle);
    if (!owner) return false;
    std::lock_guard lock(mutex);
    if (abandoned) return false;
    slot = std::move(owner);
    return true;
  }

  // The handle for the next call, or null once abandoned.
  HINTERNET Use(const UniqueInternet& slot) {
    std::lock_guard lock(mutex);
    return abandoned ? nullptr : slot.get();
  }
};

std::string Narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string ContentType(HINTERNET request) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, buffer.data(), &bytes, nullptr)) {
      return Narrow(std::wstring_view(buffer.data(), bytes / sizeof(wchar_t)));
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
  return {};
}

std::optional<InetResponse> Exchange(Transfer& transfer, const Target& target, DWORD timeout_ms) {
  if (!transfer.Keep(transfer.session,
                     ::InternetOpenW(L"MorvaneShutdown", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)))
    return std::nullopt;
  if (HINTERNET session = transfer.Use(transfer.session)) {
    // WinINet's own limits, so that a request whose handles could not be closed in
    // time still ends by itself.
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
      ::InternetSetOptionW(session, option, &timeout_ms, sizeof timeout_ms);
    DWORD retries = 1;
    ::InternetSetOptionW(session, INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
  }

  HINTERNET session = transfer.Use(transfer.session);
  if (!session ||
      !transfer.Keep(transfer.connection, ::InternetConnectW(session, target.host.c_str(), target.port, nullptr,
                                                             nullptr, INTERNET_SERVICE_HTTP, 0, 0)))
    return std::nullopt;

  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
  if (target.secure) flags |= INTERNET_FLAG_SECURE;
  const wchar_t* accept[] = {L"*/*", nullptr};
  HINTERNET connection = transfer.Use(transfer.connection);
  if (!connection || !transfer.Keep(transfer.request, ::HttpOpenRequestW(connection, L"GET", target.path.c_str(),
                                                                         nullptr, nullptr, accept, flags, 0)))
    return std::nullopt;

  HINTERNET request = transfer.Use(transfer.request);
  if (!request || !::HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return std::nullopt;

  InetResponse response;
  if (!(request = transfer.Use(transfer.request))) return std::nullopt;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return std::nullopt;
  response.status = status;
  response.content_type = ContentType(request);

  std::vector<char> chunk(16 * 1024);
  while (response.body.size() < kInetBodyCap) {
    const DWORD wanted = static_cast<DWORD>(std::min(chunk.size(), kInetBodyCap - response.body.size()));
    DWORD got = 0;
    if (!(request = transfer.Use(transfer.request))) return std::nullopt;
    if (!::InternetReadFile(request, chunk.data(), wanted, &got)) return std::nullopt;
    if (got == 0) return response;
    response.body.append(chunk.data(), got);
  }
  // Cut off at the cap; the rest is never read.
  response.truncated = true;
  return response;
}

void Work(const std::shared_ptr<Transfer>& transfer, const Target& target, DWORD timeout_ms) {
  std::optional<InetResponse> response = Exchange(*transfer, target, timeout_ms);
  // Closed after the lock is let go, the request first.
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
  std::lock_guard lock(transfer->mutex);
  session = std::move(transfer->session);
  connection = std::move(transfer->connection);
  request = std::move(transfer->request);
  transfer->finished = true;
  if (transfer->abandoned) return;
  transfer->response = std::move(response);
  // Wakes the caller's wait at once rather than at its next look.
  ::PostThreadMessageW(transfer->caller_thread, WM_NULL, 0, 0);
}

}  // namespace

std::optional<InetResponse> Inet1::OpenUrl(std::wstring_view url, std::chrono::milliseconds limit) {
  if (limit <= std::chrono::milliseconds::zero()) return std::nullopt;
  const std::optional<Target> target = Crack(url);
  if (!target) return std::nullopt;

  auto transfer = std::make_shared<Transfer>();
  transfer->caller_thread = ::GetCurrentThreadId();
  const auto timeout_ms = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(limit.count(), MAXLONG));
  try {
    // The thread owns its share of the transfer, so it may outlive this call and this
    // object; the process does not wait for it at exit.
    std::thread([transfer, target = *target, timeout_ms] { Work(transfer, target, timeout_ms); }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }

  toolkit::PumpMessagesUntil(
      [&] {
        std::lock_guard lock(transfer->mutex);
        return transfer->finished;
      },
      limit);

  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
  std::lock_guard lock(transfer->mutex);
  if (transfer->finished) return std::move(transfer->response);
  // Out of time: the worker is told to stop, and its handles are closed (once the lock
  // is let go) to break off whatever call it is blocked in.
  transfer->abandoned = true;
  session = std::move(transfer->session);
  connection = std::move(transfer->connection);
  request = std::move(transfer->request);
  return std::nullopt;
}

}  // namespace toolkit
