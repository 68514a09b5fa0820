// The internet transfer control: HTTP fetches that run on worker threads while the
// user-interface thread goes on, collected later with window messages flowing.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/steady_clock.h"

namespace toolkit {

using InetClock = SteadyClock;

// No body is read beyond this, however much the server sends.
inline constexpr std::size_t kInetBodyCap = 64 * 1024;

struct InetResponse {
  unsigned status = 0;       // the HTTP status code
  std::string content_type;  // the Content-Type header as sent, or empty
  std::string body;          // at most kInetBodyCap bytes
  bool truncated = false;    // the body went on beyond the cap

  [[nodiscard]] bool Succeeded() const noexcept { return status >= 200 && status <= 299; }
};

// One request under way. Dropping it abandons the request: its outcome is thrown away
// and nothing waits for the network.
class InetFetch {
 public:
  InetFetch() = default;
  InetFetch(const InetFetch&) = delete;
  InetFetch& operator=(const InetFetch&) = delete;
  virtual ~InetFetch() = default;

  // Whether the outcome is in.
  [[nodiscard]] virtual bool Done() const = 0;
  // The outcome once Done: the response, or none when no whole response came (no
  // connection, an unknown host, a broken transfer, or the deadline passed).
  [[nodiscard]] virtual std::optional<InetResponse> Take() = 0;
};

// A fetch whose outcome is known from the start.
class SettledFetch final : public InetFetch {
 public:
  explicit SettledFetch(std::optional<InetResponse> outcome) : outcome_(std::move(outcome)) {}
  [[nodiscard]] bool Done() const override { return true; }
  [[nodiscard]] std::optional<InetResponse> Take() override { return std::move(outcome_); }

 private:
  std::optional<InetResponse> outcome_;
};

// What a form fetches through; tests put their own in its place.
class Inet {
 public:
  Inet() = default;
  Inet(const Inet&) = delete;
  Inet& operator=(const Inet&) = delete;
  virtual ~Inet() = default;

  // Sends the request for `url` at once and returns without waiting. The fetch gives
  // up by itself at `deadline`.
  [[nodiscard]] virtual std::unique_ptr<InetFetch> Begin(std::wstring_view url, InetClock::time_point deadline) = 0;
};

struct WinInet;

// The real fetch, through WinINet, one worker thread per request.
class Inet1 final : public Inet {
 public:
  Inet1();
  ~Inet1() override;

  [[nodiscard]] std::unique_ptr<InetFetch> Begin(std::wstring_view url, InetClock::time_point deadline) override;

 private:
  std::unique_ptr<const WinInet> wininet_;  // looked up at the first request
  bool wininet_tried_ = false;              // so that a failed look-up is not repeated
};

}  // namespace toolkit
