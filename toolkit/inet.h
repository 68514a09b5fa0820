// The internet transfer control: a synchronous HTTP fetch during which window messages
// keep flowing.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace toolkit {

// No body is read beyond this, however much the server sends.
inline constexpr std::size_t kInetBodyCap = 64 * 1024;

struct InetResponse {
  unsigned status = 0;       // the HTTP status code
  std::string content_type;  // the Content-Type header as sent, or empty
  std::string body;          // at most kInetBodyCap bytes
  bool truncated = false;    // the body went on beyond the cap

  [[nodiscard]] bool Succeeded() const noexcept { return status >= 200 && status <= 299; }
};

// What a form fetches through; tests put their own in its place.
class Inet {
 public:
  Inet() = default;
  Inet(const Inet&) = delete;
  Inet& operator=(const Inet&) = delete;
  virtual ~Inet() = default;

  // Fetches `url` and returns its response, dispatching the thread's window messages
  // while it waits. None when no whole response came within `limit`: no connection,
  // an unknown host, a broken transfer, or the time ran out (the request is abandoned).
  virtual std::optional<InetResponse> OpenUrl(std::wstring_view url, std::chrono::milliseconds limit) = 0;
};

// The real fetch, through WinINet on a worker thread. A request abandoned at its limit
// is cut off; its thread winds down on its own and never holds up the process's exit.
class Inet1 final : public Inet {
 public:
  std::optional<InetResponse> OpenUrl(std::wstring_view url, std::chrono::milliseconds limit) override;
};

}  // namespace toolkit
