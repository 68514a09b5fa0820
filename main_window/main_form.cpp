#include "main_window/main_form.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "main_window/commands.h"
#include "main_window/seconds_rules.h"
#include "resources/resource.h"
#include "tray/tray_decode.h"

namespace main_window {
namespace {

toolkit::FormOptions MainOptions() {
  toolkit::FormOptions options;
  options.caption = L"Morvane关机";
  options.border = toolkit::Border::FixedSingle;
  options.client_width_twips = 6660;
  options.client_height_twips = 3030;
  options.minimize_box = true;
  options.icon = IDI_APP;
  options.cursor = IDC_POINTER;
  options.default_button = kCommand1;  // Enter in the field starts the countdown; Esc does nothing
  return options;
}

constexpr int kTrayRetryMs = 2000;
constexpr int kTrayRetries = 5;
// When the shutdown or restart command cannot be started.
constexpr wchar_t kCannotShutDown[] = L"无法启动关机命令。";
constexpr wchar_t kCannotRestart[] = L"无法启动重启命令。";

}  // namespace

main::main(Services services)
    : Form(MainOptions()),
      Frame1(*this, kFrame1, L"时间", {120, 120, 2055, 975}),
      // Windows names an edit box after the label just before it; the frame's caption is
      // not one. Hidden, it changes nothing on the screen.
      Label4(*this, kLabel4, L"时间", {240, 360, 0, 0}, &Frame1, false),
      Text1(*this, kText1, L"60", {240, 360, 1455, 270}, &Frame1),
      Command1(*this, kCommand1, L"开始计时", {120, 1200, 1455, 495}),
      Frame2(*this, kFrame2, L"模式", {2280, 120, 2055, 975}),
      Option1(*this, kOption1, L"关机", {360, 240, 1575, 255}, Frame2, true),
      Option2(*this, kOption2, L"重启", {360, 600, 1575, 255}, Frame2),
      Command2(*this, kCommand2, L"打开官网", {1680, 1200, 1335, 495}),
      Command3(*this, kCommand3, L"关于", {3120, 1200, 1215, 495}),
      Label1(*this, kLabel1, L"Copyright © 2014-2026 Morvane 版权所有", {0, 2760, 5535, 255}),
      Frame3(*this, kFrame3, L"", {120, 1800, 4215, 855}),
      Frame4(*this, kFrame4, L"", {4440, 120, 2055, 2535}),
      Label2(*this, kLabel2, L"广告位1  诚招广告，。目前只接受文本广告，。每月15元", {120, 120, 1815, 2295}, &Frame4),
      Label3(*this, kLabel3, L"广告位2文本广告。每月10元。", {120, 120, 3975, 615}, &Frame3),
      Command4(*this, kCommand4, L"最小化", {4560, 2640, 2055, 300}),
      Timer1(*this, kTimer1, 1000, false),
      services_(std::move(services)),
      tray_retry_(*this, kTrayRetryTimer, kTrayRetryMs, false) {
  // 最小化 overlaps the right end of the copyright line and is drawn above it.
  Label1.SetBottomMost();
  Text1.SetNumberField();  // seconds, typed as digits whatever input method is on
  Text1.OnKeyPress([this](wchar_t& key) { Text1_KeyPress(key); });
  Text1.OnChange([this] { Text1_Change(); });
  Command1.OnClick([this] { Command1_Click(); });
  Command2.OnClick([this] { Command2_Click(); });
  Command3.OnClick([this] { Command3_Click(); });
  Command4.OnClick([this] { Command4_Click(); });
  Timer1.OnTick([this] { Timer1_Timer(); });
  tray_retry_.OnTick([this] { TrayRetry_Timer(); });
}

main::~main() { Unload(); }

void main::BeginAdvertFetch(toolkit::InetClock::time_point deadline) {
  if (services_.inet1) adverts_.emplace(*services_.inet1, services_.publisher_host, deadline);
}

void main::Form_Load() {
  if (!adverts_) BeginAdvertFetch(toolkit::InetClock::now() + adverts::kLoadBudget);
  if (adverts_) {
    adverts_->Fill(Label2, Label3);
    adverts_.reset();  // each load asks once; what is still out is abandoned
  }
  if (!IsLoaded()) return;
  power_notices_ = toolkit::PowerNotices(hwnd());
  tray::AllowTaskbarCreated(hwnd());
  (void)AddTrayIcon();  // the window is shown either way; retries follow a refusal
}

void main::Form_Unload() {
  SetCounting(false);  // the countdown ends with the window
  // A command that ends from now on is not told: its watch and handle go with the window.
  power_commands_.clear();
  tray_.Delete();
  power_notices_ = {};
  session_ending_ = false;  // loaded again, the window tells what goes wrong
}

bool main::OnRawMouseMove(WPARAM wparam, LPARAM lparam) {
  // A real mouse move carries the pointer's own position; the icon's message does not.
  POINT pointer{GET_X_LPARAM(::GetMessagePos()), GET_Y_LPARAM(::GetMessagePos())};
  ::ScreenToClient(hwnd(), &pointer);
  const bool at_pointer = pointer.x == GET_X_LPARAM(lparam) && pointer.y == GET_Y_LPARAM(lparam);
  move_from_icon_ = tray::IsIconNotification(wparam, lparam, at_pointer);
  return false;  // on to Form_MouseMove either way
}

void main::Form_MouseMove(int /*button*/, int /*shift*/, int x, int /*y*/) {
  if (move_from_icon_ && tray::ShowsMainWindow(tray::NotificationCode(x, Dpi()))) Show();
}

std::optional<LRESULT> main::OnOtherMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kPowerCommandEnded) {
    PowerCommand_End(static_cast<DWORD>(wparam), static_cast<DWORD>(lparam));
    return 0;
  }
  if (message == kPowerCommandStillRunning) {
    PowerCommand_StillRunning(static_cast<DWORD>(lparam));
    return 0;
  }
  if (message == WM_QUERYENDSESSION) {
    Session_Ending(true);
    return TRUE;  // the user's (or the command's) wish to end it stands
  }
  if (message == WM_ENDSESSION) {
    if (wparam == FALSE) {
      Session_Ending(false);  // someone refused, and the session goes on
    } else {
      Session_End();
    }
    return 0;
  }
  if (message == WM_POWERBROADCAST) {
    Power_Broadcast(wparam, lparam);
    return TRUE;
  }
  if (message != tray::TaskbarCreatedMessage()) return std::nullopt;
  // The taskbar was made anew (Explorer restarted) and has forgotten the icon.
  const bool in = tray_.Restore();
  AfterTrayAdd(in);
  // Without the icon a hidden window could never come back: it comes back now.
  if (!in && !IsVisible()) Show();
  return 0;
}

// PBT_APMRESUMEAUTOMATIC comes at every wake, whether or not a user is there;
// PBT_APMRESUMESUSPEND follows only once someone touches the machine.
void main::Power_Broadcast(WPARAM event, LPARAM data) {
  if (event == PBT_APMRESUMEAUTOMATIC) System_Resume();
  if (event == PBT_APMRESUMESUSPEND) User_Resume();
  if (event != PBT_POWERSETTINGCHANGE) return;
  if (const auto state = toolkit::ConsoleDisplayState(data)) Display_Change(*state);
}

// Whoever wakes the machine sees that a shutdown is still counting, and can close the
// window to stop it; hidden in the tray, the countdown would close their programs
// without a word. The count stood still while the machine slept and goes on a second
// from now (see TickSchedule). Nothing is held: a wake with nobody there (a wake timer,
// maintenance, a laptop in a bag) must let the machine sleep again once Windows' short
// unattended time-out passes.
void main::System_Resume() {
  if (Timer1.Enabled() && !IsVisible()) Show();
}

// Someone is at the machine. Windows may have ended the sleep hold at the sleep (one the
// user started always does) without a word: it is taken anew.
void main::User_Resume() {
  held_for_.reset();
  UpdateSleepHold();
}

// Just after boot or logon a Modern Standby machine sends no resume notice; the display
// coming on again is then the sign of a user. (After a mere display time-out the hold
// was never lost, and taking it anew changes nothing.)
void main::Display_Change(toolkit::DisplayState state) {
  const bool was_off = std::exchange(display_off_, state == toolkit::DisplayState::Off);
  if (was_off && state == toolkit::DisplayState::On) User_Resume();
}

// A minute before the end: hidden in the tray, the countdown would otherwise close every
// program without saving and without a word. The window itself comes up, above the
// other windows where Windows lets it, because no notice is sure to be seen: Windows
// swallows one under focus assist (do not disturb), which it turns on by itself during
// games and full-screen programs, and under notifications turned off for the program,
// and the shell's notification state says "accepts" all the same. The notice goes too,
// where that state lets it. Shown or not, the taskbar button asks for a look unless the
// window is in front already. Nothing takes the focus: the user may be typing.
void main::Countdown_Warning() {
  if (!IsVisible()) {
    ShowWithoutActivating();
    (void)tray_.Notify(Caption(), WarningText(CountdownMode()));
  }
  FlashUntilInFront();
}

// From Windows' first question on, nothing more is told; should the end be called off,
// what goes wrong is told again.
void main::Session_Ending(bool ending) { session_ending_ = ending; }

// The session ends, or Restart Manager must service a file or the program itself
// (ENDSESSION_CLOSEAPP), and then the program must close: either way it closes as its
// close box closes it, About with it. The icon goes, nothing is held and no box is shown;
// nor does the program go on with its boxes silenced.
void main::Session_End() {
  if (about_) about_->Unload();
  Unload();
}

void main::SetCounting(bool counting) {
  Timer1.SetEnabled(counting);
  UpdateSleepHold();
}

// Idle sleep waits while the countdown has something to count, or the shutdown would come
// long after the machine is next woken. The lid and the power button are Windows' to
// weigh: a sleep the user starts is never held off. The hold is named after the mode.
void main::UpdateSleepHold() {
  if (!services_.sleep_hold) return;
  std::optional<PowerMode> wanted;
  if (Timer1.Enabled() && seconds::ReadValue(Text1.Text())) wanted = CountdownMode();
  if (wanted == held_for_) return;
  if (wanted) {
    services_.sleep_hold->Take(SleepHoldReason(*wanted));
  } else {
    services_.sleep_hold->Release();
  }
  held_for_ = wanted;
}

PowerMode main::CountdownMode() const { return Option2.Value() ? PowerMode::Restart : PowerMode::Shutdown; }

// Adds the icon, or finds it in already; a refusal starts the retries.
bool main::AddTrayIcon() {
  const bool in = tray_.Add(hwnd(), IDI_APP);
  AfterTrayAdd(in);
  return in;
}

void main::AfterTrayAdd(bool in) {
  tray_retries_left_ = in ? 0 : kTrayRetries;
  tray_retry_.SetEnabled(!in);
}

// A later success leaves the window as it is: only 最小化 hides it.
void main::TrayRetry_Timer() {
  if (tray_.AddAgain() || --tray_retries_left_ <= 0) tray_retry_.SetEnabled(false);
}

void main::ShowError(std::wstring_view prompt) {
  services_.prompter.MsgBox(hwnd(), prompt, toolkit::kCriticalOk, toolkit::kErrorTitle);
}

// What goes wrong with the power command is told where it is seen: a window hidden in
// the tray (or minimised) comes back first, as a double-click on the icon brings it, so
// that the box has a visible owner with a taskbar button. The notice may come long
// after the user went on to another program, which Windows keeps in front of ours: the
// box goes on top of it, and the taskbar button flashes.
void main::ShowPowerError(std::wstring_view prompt) {
  if (session_ending_) return;
  if (IsLoaded() && (!IsVisible() || ::IsIconic(hwnd()))) Show();
  FlashUntilInFront();
  services_.prompter.MsgBox(hwnd(), prompt, toolkit::kCriticalOk | toolkit::kInFront, toolkit::kErrorTitle);
}

// Starts the command without waiting for it; how it ended comes back later
// (PowerCommand_End). Through cmd.exe wherever it may run; where Windows will not run
// cmd.exe, the launcher starts the system's shutdown.exe with the same switches. One
// that cannot be started is told at once, or the countdown would end as if all went well.
void main::LaunchPowerCommand(PowerMode mode) {
  auto started = services_.launcher.LaunchWatched({PowerCommandLine(mode), ShutdownExeCommandLine(mode)},
                                                  kLaunchShowStyle, hwnd(), kPowerCommandEnded);
  if (!started) {
    ShowPowerError(mode == PowerMode::Shutdown ? kCannotShutDown : kCannotRestart);
    return;
  }
  // A watch that could not be set up tells nothing, and no handle pins its process id
  // any more: kept, it could take the end of a later command given the same id.
  if (!started->watch.Watching()) return;
  started->watch.TellIfStillRunning(services_.command_patience, kPowerCommandStillRunning);
  power_commands_.push_back({mode, std::move(started->watch), std::move(started->program)});
}

std::vector<main::PowerCommand>::iterator main::WatchedCommand(DWORD id) {
  return std::find_if(power_commands_.begin(), power_commands_.end(),
                      [id](const PowerCommand& command) { return command.watch.Id() == id; });
}

// `shutdown` refuses with a non-zero code (one already scheduled, access denied, the
// command interpreter disabled): the user must not walk away trusting it.
void main::PowerCommand_End(DWORD exit_code, DWORD id) {
  const auto ended = WatchedCommand(id);
  if (ended == power_commands_.end()) return;  // one this window no longer watches
  const PowerMode mode = ended->mode;
  const std::wstring program = std::move(ended->program);
  power_commands_.erase(ended);  // before the box, whose loop may bring further ends
  if (exit_code != 0) ShowPowerError(RefusalText(mode, program, exit_code));
}

// A command that hangs (a command interpreter disabled in a way the launcher could not
// see beforehand, waiting for a key in its minimised window; a stuck AutoRun; a security
// program's question) neither shuts the computer down nor ends. It is told once, and
// left alone: ended, or started again, it could do what the user or the administrator
// did not want. Its end is still watched.
void main::PowerCommand_StillRunning(DWORD id) {
  const auto running = WatchedCommand(id);
  if (running != power_commands_.end()) ShowPowerError(StillRunningText(running->mode, running->program));
}

// Start: needs a mode and a count; the countdown goes on from whatever the field holds.
void main::Command1_Click() {
  const bool has_mode = Option1.Value() || Option2.Value();
  if (!has_mode) ShowError(L"请选择模式");
  const std::optional<std::int64_t> count = seconds::ReadValue(Text1.Text());
  if (!count) ShowError(L"请输入正确的时间！");
  if (!has_mode || !count || !IsLoaded()) return;
  SetCounting(true);
}

void main::Command2_Click() {
  // A browser that cannot be started is not worth a message: nothing else depends on it.
  (void)services_.launcher.Launch(BrowserCommandLine(services_.publisher_host), kLaunchShowStyle);
}

void main::Command3_Click() {
  if (about_) about_->Show();
}

void main::Command4_Click() {
  // Hidden only while the icon, the one way back, is really in the notification area;
  // otherwise the window stays where the user can reach it.
  if (!AddTrayIcon()) return;
  Hide();  // the countdown goes on
}

void main::Text1_KeyPress(wchar_t& key_ascii) {
  if (!seconds::KeyPasses(key_ascii)) key_ascii = 0;
}

void main::Text1_Change() {
  if (seconds::IsTooLong(Text1.Text())) {
    if (too_long_box_open_) return;  // the open box resets the field when it closes
    too_long_box_open_ = true;
    ShowError(L"输入的数字过大");
    too_long_box_open_ = false;
    if (!IsLoaded()) return;
    Text1.SetText(seconds::kResetText);
  }
  // The zero test: any change that leaves 0 while a mode is selected launches.
  if (seconds::IsZero(Text1.Text()) && Option1.Value()) {
    SetCounting(false);
    LaunchPowerCommand(PowerMode::Shutdown);
  }
  if (seconds::IsZero(Text1.Text()) && Option2.Value()) {
    SetCounting(false);
    LaunchPowerCommand(PowerMode::Restart);
  }
  UpdateSleepHold();  // a field emptied or typed anew, or the mode switched meanwhile
}

void main::Timer1_Timer() {
  if (too_long_box_open_) return;
  const std::wstring text = Text1.Text();
  if (auto next = seconds::TickText(text)) {
    Text1.SetText(*next);
    // At every step into the last minute, whenever the count was set above it.
    if (seconds::ReadValue(text) == seconds::kWarningSeconds + 1 && IsLoaded()) Countdown_Warning();
    return;
  }
  // Zero, nothing, or no number: the count never goes below zero; at zero it is over.
  if (seconds::IsZero(text)) SetCounting(false);
}

}  // namespace main_window
