// The main window: the seconds field and the mode, the Start button, the buttons for
// the web site, the About window and hiding to the tray, two advertisement panels and
// the copyright line. The countdown lives here; the field is the counter.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "adverts/slots.h"
#include "main_window/commands.h"
#include "toolkit/controls.h"
#include "toolkit/form.h"
#include "toolkit/inet.h"
#include "toolkit/message_box.h"
#include "toolkit/power.h"
#include "toolkit/process.h"
#include "tray/module1.h"

namespace main_window {

// How long a power command may run before the user is told that it did not finish:
// `shutdown` itself returns within a second or two, but a command interpreter the
// administrator disabled waits for a key in its minimised window, for ever.
inline constexpr std::chrono::seconds kPowerCommandPatience{15};

// Posted by a power command's watch (see toolkit::ExitWatch), with the command's id as
// lParam: it ended, with its exit code as wParam; or it is still running at the end of
// its patience.
inline constexpr UINT kPowerCommandEnded = WM_APP + 1;
inline constexpr UINT kPowerCommandStillRunning = WM_APP + 2;

// What the main window reaches outside itself; tests replace the launcher, the prompter
// and the sleep hold, and may wait longer for a command they never end.
struct Services {
  toolkit::Launcher& launcher;
  toolkit::Prompter& prompter;
  std::wstring publisher_host;
  toolkit::Inet* inet1 = nullptr;  // the advertisement fetch; none leaves the built-in texts
  // Holds off idle sleep while the countdown runs; none leaves sleep as it is.
  toolkit::IdleSleepHold* sleep_hold = nullptr;
  std::chrono::milliseconds command_patience = kPowerCommandPatience;
};

// Control ids, also what UI automation sees.
enum ControlId : int {
  kText1 = 101,
  kCommand1 = 102,
  kCommand2 = 103,
  kCommand3 = 104,
  kCommand4 = 105,
  kOption1 = 106,
  kOption2 = 107,
  kLabel1 = 108,
  kLabel2 = 109,
  kLabel3 = 110,
  kFrame1 = 111,
  kFrame2 = 112,
  kFrame3 = 113,
  kFrame4 = 114,
  kLabel4 = 115,
  kTimer1 = 1,
  kTrayRetryTimer = 2,
};

// The form `main`.
class main final : public toolkit::Form {
 public:
  explicit main(Services services);
  ~main() override;

  // The About window that 关于 shows; it outlives this form.
  void SetAboutWindow(toolkit::Form* about) noexcept { about_ = about; }

  // Sends the advertisement requests now, so that their time on the network passes
  // before the window loads; the load then waits only for what has not arrived, until
  // `deadline`. A load without this fetches then, within the usual budget.
  void BeginAdvertFetch(toolkit::InetClock::time_point deadline);

  // The controls, declared in tab order (which is also their creation order).
  toolkit::Frame Frame1;
  toolkit::Label Label4;  // the seconds field's name for screen readers, never shown
  toolkit::TextBox Text1;
  toolkit::Button Command1;
  toolkit::Frame Frame2;
  toolkit::OptionButton Option1;
  toolkit::OptionButton Option2;
  toolkit::Button Command2;
  toolkit::Button Command3;
  toolkit::Label Label1;
  toolkit::Frame Frame3;
  toolkit::Frame Frame4;
  toolkit::Label Label2;
  toolkit::Label Label3;
  toolkit::Button Command4;
  toolkit::Timer Timer1;

 private:
  void Form_Load() override;
  void Form_Unload() override;
  void Form_MouseMove(int button, int shift, int x, int y) override;
  bool OnRawMouseMove(WPARAM wparam, LPARAM lparam) override;
  std::optional<LRESULT> OnOtherMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  void Text1_KeyPress(wchar_t& key_ascii);
  void Text1_Change();
  void Timer1_Timer();
  void Power_Broadcast(WPARAM event, LPARAM data);
  void System_Resume();
  void User_Resume();
  void Display_Change(toolkit::DisplayState state);
  void Countdown_Warning();

  void SetCounting(bool counting);
  void UpdateSleepHold();
  [[nodiscard]] PowerMode CountdownMode() const;

  void ShowError(std::wstring_view prompt);
  void ShowPowerError(std::wstring_view prompt);
  void LaunchPowerCommand(PowerMode mode);
  void PowerCommand_End(DWORD exit_code, DWORD id);
  void PowerCommand_StillRunning(DWORD id);
  void Session_Ending(bool ending);
  void Session_End();
  bool AddTrayIcon();
  void AfterTrayAdd(bool in);
  void TrayRetry_Timer();

  Services services_;
  toolkit::Form* about_ = nullptr;
  std::optional<adverts::SlotTexts> adverts_;  // sent, not yet shown
  tray::TrayIcon tray_;
  // While the shell refuses the icon, it is tried again every few seconds, a few times.
  toolkit::Timer tray_retry_;
  int tray_retries_left_ = 0;
  bool move_from_icon_ = false;
  // While the over-long box is open the countdown holds still, so ticks cannot stack a
  // second box behind the first.
  bool too_long_box_open_ = false;
  // The power commands started and not yet ended, each watched for its exit code.
  struct PowerCommand {
    PowerMode mode;
    toolkit::ExitWatch watch;
    std::wstring program;  // what runs it, named when it goes wrong
  };
  std::vector<PowerCommand> power_commands_;
  [[nodiscard]] std::vector<PowerCommand>::iterator WatchedCommand(DWORD id);  // or end()
  // Windows has begun to end the session: the shutdown is under way, and no box may
  // hold it up or tell of a failure that no longer matters.
  bool session_ending_ = false;
  toolkit::PowerNotices power_notices_;  // while loaded
  bool display_off_ = false;             // as the last notice of the display said
  // The mode idle sleep is held off for; none while nothing is held.
  std::optional<PowerMode> held_for_;
};

}  // namespace main_window
