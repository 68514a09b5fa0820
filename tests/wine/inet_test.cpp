// The real fetch against a small HTTP server of the test's own, on 127.0.0.1 in this
// process, and the advertisement slots it fills.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>  // lock_guard, over test_support::Mutex
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "adverts/slots.h"
#include "tests/wine/test_support.h"
#include "toolkit/form.h"
#include "toolkit/inet.h"
#include "toolkit/message_loop.h"

namespace {

using namespace std::chrono_literals;
using Clock = toolkit::SteadyClock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// ---- Winsock, looked up at run time: the test program does not link ws2_32 -----------

template <typename F>
F Lookup(HMODULE module, const char* name) {
  // Through void (*)(): the one function pointer type every other converts from cleanly.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

struct Winsock {
  Winsock() : module(::LoadLibraryW(L"ws2_32.dll")) {
    startup = Lookup<decltype(&::WSAStartup)>(module, "WSAStartup");
    socket = Lookup<decltype(&::socket)>(module, "socket");
    bind = Lookup<decltype(&::bind)>(module, "bind");
    listen = Lookup<decltype(&::listen)>(module, "listen");
    getsockname = Lookup<decltype(&::getsockname)>(module, "getsockname");
    accept = Lookup<decltype(&::accept)>(module, "accept");
    recv = Lookup<decltype(&::recv)>(module, "recv");
    send = Lookup<decltype(&::send)>(module, "send");
    shutdown = Lookup<decltype(&::shutdown)>(module, "shutdown");
    closesocket = Lookup<decltype(&::closesocket)>(module, "closesocket");
    WSADATA data{};
    ready = startup && socket && closesocket && startup(MAKEWORD(2, 2), &data) == 0;
  }

  HMODULE module;
  bool ready = false;
  decltype(&::WSAStartup) startup;
  decltype(&::socket) socket;
  decltype(&::bind) bind;
  decltype(&::listen) listen;
  decltype(&::getsockname) getsockname;
  decltype(&::accept) accept;
  decltype(&::recv) recv;
  decltype(&::send) send;
  decltype(&::shutdown) shutdown;
  decltype(&::closesocket) closesocket;
};

Winsock& Sockets() {
  static Winsock winsock;
  return winsock;
}

// ---- The server ------------------------------------------------------------------------

struct Reply {
  enum class Kind { kWhole, kSilent, kEndless, kTrickle };
  Kind kind = Kind::kWhole;
  std::string status = "200 OK";
  std::string content_type;  // no header when empty
  std::string body;
};

Reply Of(Reply::Kind kind) {
  Reply reply;
  reply.kind = kind;
  return reply;
}

Reply Whole(std::string status, std::string body, std::string content_type = "text/plain") {
  return {Reply::Kind::kWhole, std::move(status), std::move(content_type), std::move(body)};
}

// Answers each path as told, one thread per connection; a silent connection is held
// open until the server stops. Unknown paths get a 404.
class TestServer {
 public:
  TestServer() {
    Winsock& ws = Sockets();
    if (!ws.ready) return;
    listener_ = ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.S_un.S_un_b = {127, 0, 0, 1};
    int size = sizeof address;
    if (listener_ == INVALID_SOCKET || ws.bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ws.listen(listener_, 16) != 0 || ws.getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      return;
    const auto* port = reinterpret_cast<const unsigned char*>(&address.sin_port);  // network order
    port_ = static_cast<unsigned short>(port[0] << 8 | port[1]);
    acceptor_ = test_support::Thread([this] { Accept(); });
  }

  ~TestServer() { Stop(); }

  void Stop() {
    {
      std::lock_guard<test_support::Mutex> lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
      for (SOCKET s : live_) Sockets().shutdown(s, SD_BOTH);
    }
    ::SetEvent(stopped_.get());
    if (listener_ != INVALID_SOCKET) Sockets().closesocket(listener_);
    if (acceptor_.joinable()) acceptor_.join();
    for (test_support::Thread& t : connections_) t.join();
  }

  [[nodiscard]] bool Running() const { return port_ != 0; }
  [[nodiscard]] std::wstring Host() const { return L"127.0.0.1:" + std::to_wstring(port_); }
  [[nodiscard]] std::wstring Url(std::wstring_view path) const { return L"http://" + Host() + std::wstring(path); }

  void Serve(const std::string& path, Reply reply) {
    std::lock_guard<test_support::Mutex> lock(mutex_);
    replies_[path] = std::move(reply);
  }

  [[nodiscard]] std::vector<std::string> Requested() {
    std::lock_guard<test_support::Mutex> lock(mutex_);
    return requested_;
  }

 private:
  void Accept() {
    for (;;) {
      const SOCKET s = Sockets().accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      std::lock_guard<test_support::Mutex> lock(mutex_);
      if (stopping_) {
        Sockets().closesocket(s);
        return;
      }
      live_.insert(s);
      connections_.emplace_back([this, s] { Converse(s); });
    }
  }

  bool SendAll(SOCKET s, std::string_view data) {
    while (!data.empty()) {
      const int sent = Sockets().send(s, data.data(), static_cast<int>(data.size()), 0);
      if (sent <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  void Converse(SOCKET s) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int got = Sockets().recv(s, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Reply reply = Whole("404 Not Found", "<html>no such page</html>", "text/html");
    {
      std::lock_guard<test_support::Mutex> lock(mutex_);
      requested_.push_back(path);
      if (auto found = replies_.find(path); found != replies_.end()) reply = found->second;
    }
    std::string head = "HTTP/1.1 " + reply.status + "\r\nConnection: close\r\n";
    if (!reply.content_type.empty()) head += "Content-Type: " + reply.content_type + "\r\n";
    switch (reply.kind) {
      case Reply::Kind::kWhole:
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n\r\n";
        SendAll(s, head + reply.body);
        Sockets().shutdown(s, SD_SEND);
        break;
      case Reply::Kind::kSilent:
        ::WaitForSingleObject(stopped_.get(), INFINITE);
        break;
      case Reply::Kind::kTrickle: {
        // A body promised whole and sent a byte at a time.
        if (!SendAll(s, head + "Content-Length: 100000\r\n\r\n")) break;
        while (::WaitForSingleObject(stopped_.get(), 50) == WAIT_TIMEOUT && SendAll(s, "x")) {
        }
        break;
      }
      case Reply::Kind::kEndless: {
        const std::string chunk(4096, 'x');
        if (!SendAll(s, head + "\r\n")) break;
        for (;;) {
          {
            std::lock_guard<test_support::Mutex> lock(mutex_);
            if (stopping_) break;
          }
          if (!SendAll(s, chunk)) break;
        }
        break;
      }
    }
    std::lock_guard<test_support::Mutex> lock(mutex_);
    live_.erase(s);
    Sockets().closesocket(s);
  }

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  test_support::Thread acceptor_;
  std::vector<test_support::Thread> connections_;
  test_support::Mutex mutex_;
  const toolkit::UniqueKernelHandle stopped_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // set by Stop
  bool stopping_ = false;
  std::set<SOCKET> live_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> requested_;
};

// A port nobody listens on: bound, then closed.
std::wstring ClosedPortHost() {
  TestServer probe;
  std::wstring host = probe.Host();
  probe.Stop();
  return host;
}

// Fetches `url` and waits for it as the load does, messages flowing; none when no
// whole response came within `limit`.
std::optional<toolkit::InetResponse> OpenUrl(toolkit::Inet& inet, std::wstring_view url,
                                             std::chrono::milliseconds limit) {
  if (limit <= 0ms) return std::nullopt;
  const std::unique_ptr<toolkit::InetFetch> fetch = inet.Begin(url, Clock::now() + limit);
  toolkit::PumpMessagesUntil([&] { return fetch->Done(); }, limit);
  return fetch->Take();
}

// Both texts asked for now and the slots filled, within the load's budget.
void FillSlots(toolkit::Label& slot1, toolkit::Label& slot2, toolkit::Inet& inet, std::wstring_view host) {
  adverts::SlotTexts(inet, host, Clock::now() + adverts::kLoadBudget).Fill(slot1, slot2);
}

// Ticks of a thread timer while the calling thread waits: the proof that messages flow.
struct TickCounter {
  TickCounter() { id = ::SetTimer(nullptr, 0, 100, &TickCounter::OnTick); }
  ~TickCounter() { ::KillTimer(nullptr, id); }
  static void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) { ++ticks; }
  UINT_PTR id;
  static inline std::atomic<int> ticks{0};
};

const std::string kGbkAd = "\xB9\xE3\xB8\xE6 & \xB2\xE2\xCA\xD4";                   // 广告 & 测试
const std::string kUtf8Ad = "\xE5\xB9\xBF\xE5\x91\x8A & \xE6\xB5\x8B\xE8\xAF\x95";  // the same in UTF-8
constexpr wchar_t kAdText[] = L"广告 & 测试";

class InetFetch : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Running()) << "no test server"; }

  TestServer server_;
  toolkit::Inet1 inet1_;
};

TEST_F(InetFetch, ReturnsTheBodyStatusAndContentTypeOfAnyAnswer) {
  server_.Serve("/gbk.txt", Whole("200 OK", kGbkAd, "text/plain; charset=GBK"));
  server_.Serve("/utf8.txt", Whole("200 OK", kUtf8Ad, "text/plain"));
  server_.Serve("/empty.txt", Whole("200 OK", ""));
  server_.Serve("/error.txt", Whole("500 Internal Server Error", "boom"));

  auto gbk = OpenUrl(inet1_, server_.Url(L"/gbk.txt"), 5s);
  // Never the wininet.dll that scripts/test.sh plants beside the tests (as on Windows 7).
  EXPECT_FALSE(test_support::FileExists(test_support::FolderOf(test_support::ModulePath()) + L"\\wininet.dll.loaded"));
  ASSERT_TRUE(gbk);
  EXPECT_EQ(gbk->status, 200u);
  EXPECT_TRUE(gbk->Succeeded());
  EXPECT_EQ(gbk->body, kGbkAd);
  EXPECT_EQ(gbk->content_type, "text/plain; charset=GBK");
  EXPECT_FALSE(gbk->truncated);

  auto utf8 = OpenUrl(inet1_, server_.Url(L"/utf8.txt"), 5s);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->body, kUtf8Ad);

  auto empty = OpenUrl(inet1_, server_.Url(L"/empty.txt"), 5s);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 200u);
  EXPECT_EQ(empty->body, "");

  auto missing = OpenUrl(inet1_, server_.Url(L"/missing.txt"), 5s);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404u);
  EXPECT_FALSE(missing->Succeeded());

  auto error = OpenUrl(inet1_, server_.Url(L"/error.txt"), 5s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->status, 500u);
  EXPECT_FALSE(error->Succeeded());

  EXPECT_EQ(server_.Requested(),
            (std::vector<std::string>{"/gbk.txt", "/utf8.txt", "/empty.txt", "/missing.txt", "/error.txt"}));
}

TEST_F(InetFetch, NoServerOrNoHttpUrlIsNoResponse) {
  const auto start = Clock::now();
  EXPECT_FALSE(OpenUrl(inet1_, L"http://" + ClosedPortHost() + L"/gg1.txt", 5s));
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_FALSE(OpenUrl(inet1_, L"ftp://127.0.0.1/gg1.txt", 5s));
  EXPECT_FALSE(OpenUrl(inet1_, L"not a url", 5s));
  EXPECT_FALSE(OpenUrl(inet1_, server_.Url(L"/gg1.txt"), 0ms));
}

TEST_F(InetFetch, ASilentServerIsGivenUpAtTheLimitWhileMessagesKeepFlowing) {
  server_.Serve("/gg1.txt", Of(Reply::Kind::kSilent));
  TickCounter counter;
  TickCounter::ticks = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(OpenUrl(inet1_, server_.Url(L"/gg1.txt"), 1500ms));
  const double took = SecondsSince(start);
  EXPECT_GE(took, 1.4);
  EXPECT_LT(took, 2.2);
  EXPECT_GE(TickCounter::ticks.load(), 8) << "the timer did not tick during the wait";

  // The abandoned request is no obstacle to the next.
  server_.Serve("/gg2.txt", Whole("200 OK", "next"));
  auto next = OpenUrl(inet1_, server_.Url(L"/gg2.txt"), 5s);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->body, "next");
}

TEST_F(InetFetch, AnEndlessBodyIsCutAtTheCap) {
  server_.Serve("/gg1.txt", Of(Reply::Kind::kEndless));
  const auto start = Clock::now();
  auto endless = OpenUrl(inet1_, server_.Url(L"/gg1.txt"), 8s);
  ASSERT_TRUE(endless);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(endless->body.size(), toolkit::kInetBodyCap);
  EXPECT_TRUE(endless->truncated);
}

// ---- The slots -------------------------------------------------------------------------

constexpr wchar_t kBuiltIn1[] = L"built-in 1";
constexpr wchar_t kBuiltIn2[] = L"built-in 2";

toolkit::FormOptions SlotFormOptions() {
  toolkit::FormOptions options;
  options.caption = L"advert slots under test";
  options.client_width_twips = 6000;
  options.client_height_twips = 3000;
  return options;
}

class SlotForm final : public toolkit::Form {
 public:
  SlotForm()
      : Form(SlotFormOptions()),
        Slot1(*this, 1, kBuiltIn1, {120, 120, 1815, 2295}),
        Slot2(*this, 2, kBuiltIn2, {2000, 120, 3975, 615}) {}
  ~SlotForm() override { Unload(); }
  toolkit::Label Slot1;
  toolkit::Label Slot2;
};

class AdvertSlots : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Running()) << "no test server";
    form_.Show();
    ASSERT_TRUE(form_.IsLoaded());
  }

  void Fill(toolkit::Inet& inet) { FillSlots(form_.Slot1, form_.Slot2, inet, server_.Host()); }

  TestServer server_;
  toolkit::Inet1 inet1_;
  SlotForm form_;
};

TEST_F(AdvertSlots, AFailedFetchKeepsTheBuiltInTextAndABodyReplacesIt) {
  server_.Serve("/gg2.txt", Whole("200 OK", kGbkAd));  // gg1.txt: 404 with an error page
  Fill(inet1_);
  EXPECT_EQ(form_.Slot1.Text(), kBuiltIn1);
  EXPECT_EQ(form_.Slot2.Text(), kAdText);
  std::vector<std::string> asked = server_.Requested();
  std::sort(asked.begin(), asked.end());  // both go out at once, in either order
  EXPECT_EQ(asked, (std::vector<std::string>{"/gg1.txt", "/gg2.txt"}));
}

TEST_F(AdvertSlots, AnEmptyBodyBlanksTheSlotAndAServerErrorDoesNot) {
  server_.Serve("/gg1.txt", Whole("200 OK", ""));
  server_.Serve("/gg2.txt", Whole("500 Internal Server Error", "<h1>500</h1>", "text/html"));
  Fill(inet1_);
  EXPECT_EQ(form_.Slot1.Text(), L"");
  EXPECT_EQ(form_.Slot2.Text(), kBuiltIn2);
}

TEST_F(AdvertSlots, TextsDecodeThroughTheSystemTablesWithBomAndCharset) {
  server_.Serve("/gg1.txt", Whole("200 OK", "\xEF\xBB\xBF" + kUtf8Ad + std::string("\0!", 2)));
  server_.Serve("/gg2.txt", Whole("200 OK", kGbkAd + "\x81\x30\x81\x30", "text/plain; charset=\"GB18030\""));
  Fill(inet1_);
  EXPECT_EQ(form_.Slot1.Text(), std::wstring(kAdText) + L"\uFFFD!");
  // Without the system's GB18030 tables (Wine) only its GBK part reads.
  EXPECT_EQ(form_.Slot2.Text(), std::wstring(kAdText) + (::IsValidCodePage(54936) ? L"\u0080" : L"\uFFFD0\uFFFD0"));
}

TEST_F(AdvertSlots, NoServerLeavesBothBuiltInTexts) {
  FillSlots(form_.Slot1, form_.Slot2, inet1_, ClosedPortHost());
  EXPECT_EQ(form_.Slot1.Text(), kBuiltIn1);
  EXPECT_EQ(form_.Slot2.Text(), kBuiltIn2);
}

// Stands in for the fetch: records what it was asked; its fetches never finish.
class ScriptedInet final : public toolkit::Inet {
 public:
  std::unique_ptr<toolkit::InetFetch> Begin(std::wstring_view url, toolkit::InetClock::time_point deadline) override {
    calls.push_back({std::wstring(url), deadline, toolkit::InetClock::now()});
    return std::make_unique<Pending>();
  }
  struct Pending final : toolkit::InetFetch {
    bool Done() const override { return false; }
    std::optional<toolkit::InetResponse> Take() override { return std::nullopt; }
  };
  struct Call {
    std::wstring url;
    toolkit::InetClock::time_point deadline;
    toolkit::InetClock::time_point at;
  };
  std::vector<Call> calls;
};

TEST_F(AdvertSlots, BothRequestsGoOutAtOnceAndTheWaitEndsAtTheDeadline) {
  ScriptedInet inet;
  const auto start = Clock::now();
  adverts::SlotTexts texts(inet, L"ads.example:8080", start + 1200ms);
  ASSERT_EQ(inet.calls.size(), 2u) << "both requests go out when the texts are asked for";
  EXPECT_EQ(inet.calls[0].url, L"http://ads.example:8080/gg1.txt");
  EXPECT_EQ(inet.calls[1].url, L"http://ads.example:8080/gg2.txt");
  EXPECT_EQ(inet.calls[0].deadline, inet.calls[1].deadline);
  texts.Fill(form_.Slot1, form_.Slot2);
  EXPECT_GE(SecondsSince(start), 1.1);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(inet.calls.size(), 2u) << "each document is asked for once";
  EXPECT_EQ(form_.Slot1.Text(), kBuiltIn1);
  EXPECT_LE(adverts::kLoadBudget, 15s) << "the splash promises under 20 s";
}

void CALLBACK CloseOnce(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(hwnd, id);
  ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
}

TEST_F(AdvertSlots, AWindowClosedDuringTheWaitEndsItAndGetsNoText) {
  server_.Serve("/gg1.txt", Whole("200 OK", "late 1"));
  server_.Serve("/gg2.txt", Of(Reply::Kind::kSilent));
  adverts::SlotTexts texts(inet1_, server_.Host(), Clock::now() + 10s);
  // Closed from a message handled during the wait, as a user's click would be.
  const UINT_PTR closer = ::SetTimer(form_.hwnd(), 77, 300, &CloseOnce);
  ASSERT_NE(closer, 0u);
  const auto start = Clock::now();
  texts.Fill(form_.Slot1, form_.Slot2);
  EXPECT_LT(SecondsSince(start), 3.0) << "the wait went on after the window closed";
  EXPECT_FALSE(form_.IsLoaded());
}

// Many requests back to back, some at once, against answers that hang, trickle or
// come at once, with limits so short that most are abandoned mid-call. Each body that
// does come back must be its own document's: an abandoned request must never reach
// into a later one.
TEST_F(InetFetch, AbandonedRequestsNeverCrossWithLaterOnes) {
  constexpr int kDocuments = 24;
  for (int i = 0; i < kDocuments; ++i) {
    const std::string path = "/doc" + std::to_string(i);
    switch (i % 3) {
      case 0:
        server_.Serve(path, Whole("200 OK", "body of " + path));
        break;
      case 1:
        server_.Serve(path, Of(Reply::Kind::kSilent));
        break;
      default:
        server_.Serve(path, Of(Reply::Kind::kTrickle));
        break;
    }
  }
  int whole = 0;
  for (int round = 0; round < 6; ++round) {
    std::vector<std::pair<std::string, std::unique_ptr<toolkit::InetFetch>>> fetches;
    for (int i = round; i < kDocuments; i += 2) {
      const std::string path = "/doc" + std::to_string(i);
      const auto limit = std::chrono::milliseconds(40 + 37 * ((i + round) % 9));
      fetches.emplace_back(path,
                           inet1_.Begin(server_.Url(std::wstring(path.begin(), path.end())), Clock::now() + limit));
    }
    // Give up on each after a short look, as the load does at its deadline.
    toolkit::PumpMessagesUntil([] { return false; }, 150ms);
    for (auto& [path, fetch] : fetches) {
      if (!fetch->Done()) continue;
      if (auto response = fetch->Take()) {
        EXPECT_EQ(response->body, "body of " + path);
        ++whole;
      }
    }
  }
  EXPECT_GT(whole, 0) << "no prompt answer came back at all";
}

}  // namespace
