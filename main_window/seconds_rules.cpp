#include "main_window/seconds_rules.h"

namespace main_window::seconds {

bool KeyPasses(wchar_t& code) noexcept {
  if (code >= L'\uFF10' && code <= L'\uFF19') code = static_cast<wchar_t>(L'0' + (code - L'\uFF10'));
  return (code >= L'0' && code <= L'9') || code == 8;
}

bool IsTooLong(std::wstring_view text) noexcept { return text.size() > kMaxLength; }

std::optional<std::int64_t> ReadValue(std::wstring_view text) noexcept {
  // Eighteen digits always fit in 64 bits; anything longer is not a count we take.
  constexpr std::size_t kMaxDigits = 18;
  if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
  std::int64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}

std::wstring WriteValue(std::int64_t value) {
  // Written out by hand: std::to_wstring goes through the C library's wide printf,
  // which brings its whole formatting engine (floating point included) into the program.
  wchar_t digits[21];
  wchar_t* end = digits + 21;
  wchar_t* first = end;
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    *--first = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--first = L'-';
  return std::wstring(first, end);
}

std::optional<std::wstring> TickText(std::wstring_view text) {
  const auto value = ReadValue(text);
  if (!value || *value <= 0) return std::nullopt;
  return WriteValue(*value - 1);
}

bool IsZero(std::wstring_view text) noexcept {
  const auto value = ReadValue(text);
  return value && *value == 0;
}

}  // namespace main_window::seconds
