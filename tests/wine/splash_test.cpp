// The start: the splash window first on the screen, which opens the main window after a
// second and closes once it is up, however long the main window takes to load; and a
// later start, handed over to the copy that runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/splash.h"
#include "tests/wine/test_support.h"
#include "toolkit/form.h"
#include "toolkit/running_copy.h"

namespace {

using namespace std::chrono_literals;
using test_support::Clock;
using test_support::PumpUntil;
using test_support::SecondsSince;
using test_support::StyleOf;
using test_support::WindowText;

// Stands in for the main window: counts its loads and shows, and can take its time loading
// while the thread keeps dispatching messages.
class SlowForm final : public toolkit::Form {
 public:
  SlowForm() : Form(Options()) {}
  ~SlowForm() override { Unload(); }

  int loads = 0;
  int shows = 0;
  std::chrono::milliseconds load_time{0};
  std::function<void()> while_loading;
  std::function<void()> on_shown;

 private:
  static toolkit::FormOptions Options() {
    toolkit::FormOptions options;
    options.caption = L"slow main";
    options.client_width_twips = 3000;
    options.client_height_twips = 2000;
    return options;
  }

  void Form_Load() override {
    ++loads;
    if (load_time.count() > 0)
      PumpUntil(
          [this] {
            if (while_loading) while_loading();
            return false;
          },
          load_time);
  }

  std::optional<LRESULT> OnOtherMessage(UINT message, WPARAM wparam, LPARAM) override {
    if (message == WM_SHOWWINDOW && wparam) {
      ++shows;
      if (on_shown) on_shown();
    }
    return std::nullopt;
  }
};

TEST(Splash, AloneAtFirstThenOpensTheMainWindowOnceAndCloses) {
  SlowForm main_form;
  app::ld splash(main_form);
  const auto start = Clock::now();
  splash.Show();
  ASSERT_TRUE(splash.IsLoaded());

  EXPECT_EQ(WindowText(splash.hwnd()), L"loading...");
  const DWORD style = StyleOf(splash.hwnd());
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_FALSE(style & WS_THICKFRAME);
  if (splash.Dpi() == 96) {
    const SIZE client = test_support::ClientSize(splash.hwnd());
    EXPECT_EQ(client.cx, 406);
    EXPECT_EQ(client.cy, 231);
  }
  EXPECT_TRUE(splash.IsVisible());
  EXPECT_TRUE(splash.Label1.Visible());
  EXPECT_EQ(splash.Label1.Text(), L"Morvane关机工具V2014");
  EXPECT_TRUE(splash.Label2.Visible());
  EXPECT_EQ(splash.Label2.Text(), L"Loading...");
  EXPECT_FALSE(splash.Label3.Visible());
  EXPECT_FALSE(main_form.IsLoaded());

  std::optional<double> shown_at;
  bool splash_up_when_shown = false;
  main_form.on_shown = [&] {
    if (!shown_at) shown_at = SecondsSince(start);
    splash_up_when_shown = splash.IsLoaded();
  };
  ASSERT_TRUE(PumpUntil([&] { return !splash.IsLoaded(); }, 3s));
  ASSERT_TRUE(shown_at.has_value());
  EXPECT_GT(*shown_at, 0.95);
  EXPECT_LT(*shown_at, 1.6);
  EXPECT_TRUE(splash_up_when_shown) << "the splash closed before the main window was up";
  EXPECT_TRUE(main_form.IsVisible());

  PumpUntil([] { return false; }, 400ms);
  EXPECT_EQ(main_form.loads, 1);
  EXPECT_EQ(main_form.shows, 1);
  EXPECT_FALSE(splash.IsLoaded());
  EXPECT_TRUE(main_form.IsVisible());
}

TEST(Splash, ASlowLoadShowsTheHintAtThreeSecondsAndStillOpensOnce) {
  SlowForm main_form;
  main_form.load_time = 3500ms;
  app::ld splash(main_form);
  std::optional<double> hint_at;
  bool splash_closed_while_loading = false;
  const auto start = Clock::now();
  main_form.while_loading = [&] {
    if (!splash.IsLoaded()) {
      splash_closed_while_loading = true;
      return;
    }
    if (!hint_at && splash.Label3.Visible()) hint_at = SecondsSince(start);
  };
  splash.Show();
  ASSERT_TRUE(PumpUntil([&] { return !splash.IsLoaded(); }, 7s));
  ASSERT_TRUE(hint_at.has_value()) << "the hint never showed";
  EXPECT_GT(*hint_at, 2.95);
  EXPECT_LT(*hint_at, 3.6);
  EXPECT_FALSE(splash_closed_while_loading);
  EXPECT_GT(SecondsSince(start), 4.4);
  EXPECT_EQ(main_form.loads, 1);
  EXPECT_EQ(main_form.shows, 1);
  EXPECT_TRUE(main_form.IsVisible());
  PumpUntil([] { return false; }, 500ms);
  EXPECT_FALSE(splash.IsLoaded());
  EXPECT_EQ(main_form.loads, 1);
}

// The title is wider than its designed box at 12 pt bold; it must show whole, on one
// line, from its designed left edge and top, in its designed font, at every DPI.
TEST(Splash, TheTitleFitsOnOneLineAtEveryDpi) {
  SlowForm main_form;
  app::ld splash(main_form);
  splash.Show();
  ASSERT_TRUE(splash.IsLoaded());
  splash.Timer1.SetEnabled(false);  // the main window stays out of this
  const int original = splash.Dpi();
  for (int dpi : {96, 120, 144, 192, original}) {
    SCOPED_TRACE(dpi);
    RECT window{};
    ::GetWindowRect(splash.hwnd(), &window);
    ::SendMessageW(splash.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&window));
    ASSERT_EQ(splash.Dpi(), dpi);
    HWND title = splash.Label1.hwnd();
    const RECT box = test_support::RectInParent(title);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, ::MulDiv(3000, dpi, 1440));
    EXPECT_EQ(box.bottom - box.top, ::MulDiv(375, dpi, 1440));
    EXPECT_LT(box.right, test_support::RectInParent(splash.Label2.hwnd()).left) << "the title runs into Loading...";

    const auto font = reinterpret_cast<HFONT>(::SendMessageW(title, WM_GETFONT, 0, 0));
    LOGFONTW logfont{};
    ASSERT_TRUE(::GetObjectW(font, sizeof logfont, &logfont));
    EXPECT_EQ(logfont.lfHeight, -::MulDiv(12, dpi, 72));
    EXPECT_EQ(logfont.lfWeight, FW_BOLD);

    HDC dc = ::GetDC(title);
    const HGDIOBJ old = ::SelectObject(dc, font);
    const std::wstring text = WindowText(title);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(title, dc);
    RECT client{};
    ::GetClientRect(title, &client);
    EXPECT_LE(extent.cx, client.right) << "the title wraps onto a second line";
    EXPECT_GT(extent.cx, ::MulDiv(2295, dpi, 1440)) << "the title no longer needs the wider box";
    EXPECT_TRUE(test_support::TextFits(splash.Label3.hwnd())) << "the hint's second line is cut";
  }
  splash.Unload();
}

// The process's token given, for the scope, the default DACL Windows gives a copy run as
// administrator as a start without elevation meets it: SYSTEM's, and administrators',
// whose group that start's token holds for deny only, left out; and whether an object's DACL lets the
// session's interactive users (whichever account typed the password) map it for reading.
class ElevatedDefaultDacl {
 public:
  ElevatedDefaultDacl() {
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &token_);
    ::GetTokenInformation(token_, TokenDefaultDacl, old_, sizeof old_, &old_size_);
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)", SDDL_REVISION_1, &sd_, nullptr);
    TOKEN_DEFAULT_DACL admins{};
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorDacl(sd_, &present, &admins.DefaultDacl, &defaulted);
    set = ::SetTokenInformation(token_, TokenDefaultDacl, &admins, sizeof admins) != FALSE;
  }
  ~ElevatedDefaultDacl() {
    ::SetTokenInformation(token_, TokenDefaultDacl, old_, old_size_);
    ::LocalFree(sd_);
    ::CloseHandle(token_);
  }
  [[nodiscard]] static bool InteractiveMayRead(HANDLE object) {
    alignas(void*) BYTE interactive[SECURITY_MAX_SID_SIZE] = {}, sd[4096] = {};
    DWORD size = sizeof interactive;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!::CreateWellKnownSid(WinInteractiveSid, nullptr, interactive, &size) ||
        !::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, sd, sizeof sd, &size) ||
        !::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !dacl)
      return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i)
      if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
          (ace->Mask & FILE_MAP_READ) && ::EqualSid(&ace->SidStart, interactive))
        return true;
    return false;
  }
  bool set = false;

 private:
  HANDLE token_ = nullptr;
  alignas(void*) BYTE old_[1024] = {};
  DWORD old_size_ = 0;
  PSECURITY_DESCRIPTOR sd_ = nullptr;
};

// What the running copy asks of Windows' message filter, and to whom the foreground is lent.
std::vector<std::tuple<HWND, UINT, DWORD>> filtered;
std::vector<DWORD> lent;

BOOL WINAPI RecordFilter(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT) {
  filtered.emplace_back(window, message, action);
  return TRUE;
}

BOOL WINAPI RecordLending(DWORD id) {
  lent.push_back(id);
  return TRUE;
}

TEST(RunningCopy, TheFirstStartHoldsTheNameAndALaterOneReachesItAlone) {
  static bool elevated;
  elevated = true;  // run as administrator, until the last copies
  const test_support::StandIn<toolkit::ElevationQuery> elevation(toolkit::runs_elevated, [] { return elevated; });
  const test_support::StandIn<toolkit::MessageFilterFunction> filter(toolkit::change_message_filter, &RecordFilter);
  const test_support::StandIn<toolkit::LendForegroundFunction> lend(toolkit::lend_foreground, &RecordLending);
  const std::wstring name = L"Local\\MorvaneShutdown.Test." + std::to_wstring(::GetCurrentProcessId());
  std::optional<ElevatedDefaultDacl> as_administrator(std::in_place);
  ASSERT_TRUE(as_administrator->set);
  toolkit::RunningCopy first(name.c_str());
  toolkit::RunningCopy second(name.c_str());
  ASSERT_TRUE(first.HoldsName());
  EXPECT_FALSE(second.HoldsName());
  const toolkit::UniqueKernelHandle memory(::OpenFileMappingW(READ_CONTROL, FALSE, name.c_str()));
  EXPECT_TRUE(as_administrator->InteractiveMayRead(memory.get())) << "a copy run as administrator is out of reach";

  // A start while the first still makes its window waits for it, 300 ms here.
  int first_came = 0, second_came = 0;
  bool handed = false;
  std::thread later([&] { handed = toolkit::RunningCopy(name.c_str()).HandOver(5s, 1s); });
  PumpUntil([] { return false; }, 300ms);
  first.Publish([&] { ++first_came; });
  PumpUntil([&] { return first_came > 0; }, 6s);
  later.join();
  EXPECT_TRUE(handed && first_came == 1) << "a copy still starting was not waited for";
  HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, L"MorvaneRunningCopy", nullptr);
  const UINT hand_over = ::RegisterWindowMessageW(L"MorvaneShutdown.SecondStart.3");
  EXPECT_EQ(filtered, (std::vector<std::tuple<HWND, UINT, DWORD>>{{window, hand_over, MSGFLT_ALLOW}}));
  EXPECT_EQ(lent, std::vector<DWORD>{::GetCurrentProcessId()});

  // A copy that found the name taken leaves it to its holder.
  second.Publish([&] { ++second_came; });
  EXPECT_TRUE(second.HandOver(0ms, 1s));
  PumpUntil([] { return false; }, 100ms);
  EXPECT_EQ(std::make_pair(first_came, second_came), std::make_pair(2, 0)) << "the second copy took the name over";

  // What the name leads to must answer as a copy of ours (a window that answers 0, or
  // something else), or the start goes on, lending nothing.
  lent.clear();
  for (bool answers : {false, true}) {
    HWND other = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (answers)
      ::SetWindowLongPtrW(other, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
                            return 0x4D6F7276;
                          }));
    const std::wstring squatted = name + L".squatted";
    const toolkit::UniqueKernelHandle holder(::CreateMutexW(nullptr, TRUE, (squatted + L".Holder").c_str()));
    const toolkit::UniqueKernelHandle held(
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, squatted.c_str()));
    auto* value = static_cast<HWND*>(::MapViewOfFile(held.get(), FILE_MAP_WRITE, 0, 0, 8));
    *value = other;
    EXPECT_FALSE(toolkit::RunningCopy(squatted.c_str()).HandOver(0ms, 300ms)) << "answers: " << answers;
    ::UnmapViewOfFile(value);
    ::DestroyWindow(other);
  }
  EXPECT_TRUE(lent.empty()) << "the foreground was lent to a window not ours";

  // A start that ran on (its holder had no window yet) takes the name once the holder
  // ends, without elevation makes no hole in the message filter, and a third start
  // reaches it.
  as_administrator.reset();
  const std::wstring again = name + L".again";
  auto holder = std::make_unique<toolkit::RunningCopy>(again.c_str());
  toolkit::RunningCopy beside(again.c_str());
  EXPECT_FALSE(beside.HandOver(0ms, 1s));
  elevated = false;
  filtered.clear();
  beside.Publish([&] { ++second_came; });
  holder.reset();
  std::thread third([&] { handed = toolkit::RunningCopy(again.c_str()).HandOver(5s, 1s); });
  PumpUntil([&] { return second_came > 0; }, 6s);
  third.join();
  EXPECT_TRUE(handed && second_came == 1 && beside.HoldsName()) << "the name died with its holder";
  EXPECT_TRUE(filtered.empty()) << "a copy without elevation let messages through the filter";
}

// A second start while the main window loads shows it once loaded, not half made.
TEST(RunningCopy, ComingForwardWhileLoadingShowsTheWindowOnceLoaded) {
  SlowForm main_form;
  main_form.load_time = 500ms;
  bool shown_while_loading = false;
  main_form.while_loading = [&] {
    toolkit::ComeForward(main_form);
    shown_while_loading = shown_while_loading || main_form.IsVisible();
  };
  toolkit::ComeForward(main_form);
  EXPECT_FALSE(shown_while_loading);
  EXPECT_EQ(std::make_tuple(main_form.IsVisible(), main_form.loads, main_form.shows), std::make_tuple(true, 1, 1));
}

}  // namespace
