// The start: the splash window first on the screen, which opens the main window after a
// second and closes once it is up, however long the main window takes to load; and a
// later start, handed over to the copy that runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
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
  std::function<void()> on_unload;

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
  void Form_Unload() override {
    if (on_unload) on_unload();
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

// A window of our class that answers the hand-over with another process's id.
LRESULT CALLBACK AnswersForAnother(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != ::RegisterWindowMessageW(L"MorvaneShutdown.SecondStart.4"))
    return ::DefWindowProcW(window, message, wparam, lparam);
  return static_cast<LRESULT>(::GetCurrentProcessId() + 4);
}

TEST(RunningCopy, AStartRunsOnBesideAFrozenCopyAndTheNextReachesTheSurvivor) {
  static bool high;  // the token's integrity: above medium for the frozen copy alone
  const test_support::StandIn<toolkit::ElevationQuery> integrity(toolkit::runs_elevated, [] { return high; });
  const test_support::StandIn<toolkit::MessageFilterFunction> filter(toolkit::change_message_filter, &RecordFilter);
  const test_support::StandIn<toolkit::LendForegroundFunction> lend(toolkit::lend_foreground, &RecordLending);
  const std::wstring name = L"Local\\MorvaneShutdown.Test." + std::to_wstring(::GetCurrentProcessId());
  {  // neither a copy that cannot come forward yet nor a window answering for another process
    toolkit::RunningCopy unready(name.c_str());
    unready.Publish({});
    const toolkit::UniqueWindow other(::CreateWindowExW(0, L"MorvaneShutdown.RunningCopy.4", L"", 0, 0, 0, 0, 0,
                                                        HWND_MESSAGE, nullptr, ::GetModuleHandleW(nullptr), nullptr));
    ::SetWindowLongPtrW(other.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AnswersForAnother));
    EXPECT_FALSE(toolkit::RunningCopy(name.c_str()).HandOver(300ms)) << "a start ended on no copy of ours";
  }
  const toolkit::UniqueKernelHandle made(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const toolkit::UniqueKernelHandle thaw(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  high = true;
  test_support::Thread frozen([&] {  // its window made, and then no message served
    toolkit::RunningCopy copy(name.c_str());
    copy.Publish([] { ADD_FAILURE() << "a frozen copy came forward"; });
    ::SignalObjectAndWait(made.get(), thaw.get(), INFINITE, FALSE);
  });
  ::WaitForSingleObject(made.get(), INFINITE);
  high = false;
  toolkit::RunningCopy beside(name.c_str());
  EXPECT_FALSE(beside.HandOver(300ms)) << "handed over to a frozen copy";
  int came = 0;
  beside.Publish([&] { ++came; });
  EXPECT_EQ(filtered.size(), 1u) << "the filter follows the integrity level";
  ::SetEvent(thaw.get());
  frozen.join();

  // The next start reaches the survivor, which says yes before the start ends, though its
  // loop is busy for 3 s first: Windows calls a window hung only after 5 s.
  MSG none;
  ::PeekMessageW(&none, nullptr, 0, 0, PM_NOREMOVE);  // the busy time counts from here
  bool handed = false;
  test_support::Thread next([&] { handed = toolkit::RunningCopy(name.c_str()).HandOver(5s); });
  ::Sleep(3000);
  PumpUntil([&] { return came > 0; }, 6s);
  next.join();
  EXPECT_TRUE(handed && came == 1);
  EXPECT_EQ(lent, std::vector<DWORD>{::GetCurrentProcessId()});

  // Once the close of its last form begins, the copy is found no more and keeps no start
  // waiting, before that form's unload talks to anyone.
  SlowForm last;
  last.Show();
  bool found_while_closing = true;
  last.on_unload = [&] {
    found_while_closing = toolkit::RunningCopy(name.c_str()).AnotherMayRun() ||
                          ::FindWindowExW(HWND_MESSAGE, nullptr, L"MorvaneShutdown.RunningCopy.4", nullptr);
  };
  toolkit::Form::SetQuitWhenLastClosed(true, [&] { beside.Withdraw(); });
  ::SendMessageW(last.hwnd(), WM_CLOSE, 0, 0);
  toolkit::Form::SetQuitWhenLastClosed(false);
  MSG quit;
  ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // what the close posted
  EXPECT_FALSE(found_while_closing);
}

// Denied the mutex (another account's copy made it, run as administrator), a start waits
// for that copy, and starts at once when it goes.
TEST(RunningCopy, ADeniedStartStartsOnceTheOtherAccountsCopyHasGone) {
  const std::wstring name = L"Local\\MorvaneShutdown.Denied." + std::to_wstring(::GetCurrentProcessId());
  ACL empty{};  // lets no one open it, as another account's mutex is to us
  SECURITY_DESCRIPTOR theirs_only{};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &theirs_only, FALSE};
  ::InitializeAcl(&empty, sizeof empty, ACL_REVISION);
  ::InitializeSecurityDescriptor(&theirs_only, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&theirs_only, TRUE, &empty, FALSE);
  toolkit::UniqueKernelHandle theirs(::CreateMutexW(&attributes, FALSE, name.c_str()));
  toolkit::RunningCopy start(name.c_str());
  ASSERT_TRUE(theirs && start.AnotherMayRun());
  const auto began = Clock::now();
  test_support::Thread goes([&] {
    ::Sleep(500);
    theirs.reset();
  });
  EXPECT_FALSE(start.HandOver(5s));
  const double waited = SecondsSince(began);
  goes.join();
  EXPECT_TRUE(waited > 0.4 && waited < 4) << waited << " s: not for the other copy, or on after it had gone";
  EXPECT_TRUE(toolkit::RunningCopy(name.c_str()).AnotherMayRun()) << "the start holds no mutex";
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
