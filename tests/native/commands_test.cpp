// What the main window says when Windows refuses its shutdown or restart command.
#include <gtest/gtest.h>

#include <string>

#include "main_window/commands.h"

namespace {

using main_window::PowerMode;
using main_window::RefusalText;

TEST(RefusalText, NamesTheCommandTheProgramAndTheCodeAndWhatFollows) {
  EXPECT_EQ(RefusalText(PowerMode::Shutdown, L"cmd.exe", 2),
            L"Windows 没有接受关机命令（cmd.exe，代码 2），计算机不会关机。");
  EXPECT_EQ(RefusalText(PowerMode::Restart, L"cmd.exe", 1),
            L"Windows 没有接受重启命令（cmd.exe，代码 1），计算机不会重启。");
  EXPECT_EQ(RefusalText(PowerMode::Restart, L"shutdown.exe", 1191),
            L"Windows 没有接受重启命令（shutdown.exe，代码 1191），计算机不会重启。");
  // A crashed command's status reads as it is known, in hexadecimal.
  EXPECT_EQ(RefusalText(PowerMode::Shutdown, L"cmd.exe", 0xC0000142U),
            L"Windows 没有接受关机命令（cmd.exe，代码 0xC0000142），计算机不会关机。");
  EXPECT_EQ(RefusalText(PowerMode::Shutdown, L"cmd.exe", 0x80000000U),
            L"Windows 没有接受关机命令（cmd.exe，代码 0x80000000），计算机不会关机。");
  EXPECT_EQ(RefusalText(PowerMode::Shutdown, L"cmd.exe", 0x7FFFFFFFU),
            L"Windows 没有接受关机命令（cmd.exe，代码 2147483647），计算机不会关机。");
}

// Another shutdown or restart is already on its way: the computer may well go down, just
// not by this command, so the box must not say it will not. Access denied says who
// decides; a hanging command says what may block it.
TEST(RefusalText, AShutdownAlreadyScheduledOrUnderWayOrNotAllowedHasWordsOfItsOwn) {
  EXPECT_EQ(RefusalText(PowerMode::Shutdown, L"cmd.exe", 1190),
            L"Windows 没有接受关机命令：已有一次关机或重启在计划中（cmd.exe，代码 1190）。");
  EXPECT_EQ(RefusalText(PowerMode::Restart, L"cmd.exe", 1190),
            L"Windows 没有接受重启命令：已有一次关机或重启在计划中（cmd.exe，代码 1190）。");
  EXPECT_EQ(RefusalText(PowerMode::Restart, L"cmd.exe", 1115),
            L"Windows 没有接受重启命令：关机或重启已经在进行中（cmd.exe，代码 1115）。");
  EXPECT_EQ(
      RefusalText(PowerMode::Shutdown, L"cmd.exe", 5),
      L"Windows 没有接受关机命令：此帐户无权关闭这台计算机；在受管理的计算机上，这由管理员决定（cmd.exe，代码 5）。");
  EXPECT_EQ(
      RefusalText(PowerMode::Restart, L"cmd.exe", 5),
      L"Windows 没有接受重启命令：此帐户无权重启这台计算机；在受管理的计算机上，这由管理员决定（cmd.exe，代码 5）。");
  EXPECT_EQ(main_window::StillRunningText(PowerMode::Restart, L"cmd.exe"),
            L"重启命令（cmd.exe）没有运行完毕，计算机可能不会重启。这台计算机可能禁止运行命令，例如由管理员禁止。");
}

// A warning naming the wrong mode would send the user away on a wrong belief.
TEST(WarningText, NamesTheModeTheUserChose) {
  EXPECT_EQ(main_window::WarningText(PowerMode::Shutdown),
            L"计算机将在 60 秒后关机，所有程序都会被关闭，未保存的内容将会丢失。"
            L"要停止，请点击本通知或双击通知区域中的图标打开窗口，然后关闭窗口。");
  EXPECT_EQ(main_window::WarningText(PowerMode::Restart),
            L"计算机将在 60 秒后重启，所有程序都会被关闭，未保存的内容将会丢失。"
            L"要停止，请点击本通知或双击通知区域中的图标打开窗口，然后关闭窗口。");
}

}  // namespace
