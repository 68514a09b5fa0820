// The seconds field's rules and the command lines the main window launches.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "main_window/commands.h"
#include "main_window/seconds_rules.h"

namespace seconds = main_window::seconds;

namespace {

// A full-width digit (a Chinese input method's full-width mode) reaches the field as
// the ASCII digit; every other code passes unchanged or not at all.
TEST(KeyFilter, OnlyDigitsFullWidthDigitsAndBackspacePassAmongAllCodes) {
  int passed = 0;
  for (unsigned code = 0; code <= 0xFFFF; ++code) {
    const bool full_width = code >= 0xFF10 && code <= 0xFF19;
    const bool expected = (code >= '0' && code <= '9') || code == 8 || full_width;
    wchar_t key = static_cast<wchar_t>(code);
    ASSERT_EQ(seconds::KeyPasses(key), expected) << "code " << code;
    ASSERT_EQ(static_cast<unsigned>(key), full_width ? code - 0xFF10 + '0' : code) << "code " << code;
    if (expected) ++passed;
  }
  EXPECT_EQ(passed, 21);
}

TEST(KeyFilter, RejectsLookalikesAndControlKeys) {
  for (wchar_t key : {L'\uFF0F', L'\uFF1A', L'\u0660', L'\u4E00', L'-', L'+', L' ', L'\r', L'\t', wchar_t{0x16},
                      wchar_t{0x03}, wchar_t{0x18}, wchar_t{0x7F}, wchar_t{0}})
    EXPECT_FALSE(seconds::KeyPasses(key)) << static_cast<unsigned>(key);
}

TEST(TooLong, MoreThanSevenCharactersIsTooLong) {
  EXPECT_FALSE(seconds::IsTooLong(L""));
  EXPECT_FALSE(seconds::IsTooLong(L"1234567"));
  EXPECT_FALSE(seconds::IsTooLong(L"9999999"));
  EXPECT_TRUE(seconds::IsTooLong(L"12345678"));
  EXPECT_TRUE(seconds::IsTooLong(L"00000000"));
  // Length counts every character, not only digits (a paste can bring anything).
  EXPECT_TRUE(seconds::IsTooLong(L"abcdefgh"));
  EXPECT_FALSE(seconds::IsTooLong(L"abcdefg"));
}

struct ReadCase {
  const wchar_t* text;
  std::optional<std::int64_t> value;
};

class ReadValueTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadValueTest, ReadsOnlyPlainDecimalDigits) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(seconds::ReadValue(c.text), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadValueTest,
    testing::Values(ReadCase{L"", std::nullopt}, ReadCase{L"0", 0}, ReadCase{L"000", 0}, ReadCase{L"60", 60},
                    ReadCase{L"0060", 60}, ReadCase{L"9999999", 9999999}, ReadCase{L"1234567", 1234567},
                    ReadCase{L"999999999999999999", 999999999999999999LL},  // 18 digits
                    ReadCase{L"9999999999999999999", std::nullopt},         // 19 digits: over 64 bits
                    ReadCase{L"00000000000000000000000000000000060", std::nullopt}, ReadCase{L"abc", std::nullopt},
                    ReadCase{L"12a", std::nullopt}, ReadCase{L"a12", std::nullopt}, ReadCase{L" 12", std::nullopt},
                    ReadCase{L"12 ", std::nullopt}, ReadCase{L"-1", std::nullopt}, ReadCase{L"+1", std::nullopt},
                    ReadCase{L"1.5", std::nullopt}, ReadCase{L"1e3", std::nullopt},
                    ReadCase{L"\uFF16\uFF10", std::nullopt},  // full-width ６０
                    ReadCase{L"6\uFF10", std::nullopt}, ReadCase{L"\u0666\u0660", std::nullopt}));

TEST(WriteValue, ShortestDecimal) {
  EXPECT_EQ(seconds::WriteValue(0), L"0");
  EXPECT_EQ(seconds::WriteValue(59), L"59");
  EXPECT_EQ(seconds::WriteValue(9999998), L"9999998");
}

struct TickCase {
  const wchar_t* text;
  std::optional<std::wstring> next;
};

class TickTextTest : public testing::TestWithParam<TickCase> {};

TEST_P(TickTextTest, CountsDownByOneAndStopsAtZero) {
  const TickCase& c = GetParam();
  EXPECT_EQ(seconds::TickText(c.text), c.next);
}

INSTANTIATE_TEST_SUITE_P(Table, TickTextTest,
                         testing::Values(TickCase{L"60", L"59"}, TickCase{L"0060", L"59"}, TickCase{L"007", L"6"},
                                         TickCase{L"10", L"9"}, TickCase{L"1", L"0"}, TickCase{L"01", L"0"},
                                         TickCase{L"9999999", L"9999998"}, TickCase{L"0", std::nullopt},
                                         TickCase{L"00", std::nullopt}, TickCase{L"", std::nullopt},
                                         TickCase{L"abc", std::nullopt}, TickCase{L"-1", std::nullopt},
                                         TickCase{L"\uFF15", std::nullopt}));

TEST(TickText, ACountdownFromAnyStartEndsAtZeroAndNeverBelow) {
  for (const wchar_t* start : {L"5", L"0005", L"10", L"1"}) {
    std::wstring text = start;
    int ticks = 0;
    while (auto next = seconds::TickText(text)) {
      ASSERT_EQ(next->find(L'-'), std::wstring::npos);
      text = *next;
      ASSERT_LT(++ticks, 100);
    }
    EXPECT_EQ(text, L"0") << "from " << start;
    EXPECT_EQ(ticks, *seconds::ReadValue(start));
    EXPECT_TRUE(seconds::IsZero(text));
  }
}

TEST(IsZero, OnlyAValueOfExactlyZero) {
  for (const wchar_t* zero : {L"0", L"00", L"000", L"0000000"}) EXPECT_TRUE(seconds::IsZero(zero)) << zero;
  for (const wchar_t* other : {L"", L"1", L"10", L"01", L"abc", L"0a", L" 0", L"-0", L"\uFF10"})
    EXPECT_FALSE(seconds::IsZero(other)) << other;
}

TEST(ResetText, IsSixty) { EXPECT_EQ(seconds::kResetText, L"60"); }

TEST(Commands, PowerCommandLinesAreExact) {
  using main_window::PowerMode;
  EXPECT_EQ(main_window::PowerCommandLine(PowerMode::Shutdown), L"cmd.exe /c shutdown -s -t 3");
  EXPECT_EQ(main_window::PowerCommandLine(PowerMode::Restart), L"cmd.exe /c shutdown -r -t 3");
  EXPECT_EQ(main_window::kLaunchShowStyle, 2);
}

TEST(Commands, BrowserOpensThePublisherSite) {
  EXPECT_EQ(main_window::BrowserCommandLine(L"host:8080"), L"explorer.exe http://host:8080/");
}

}  // namespace
