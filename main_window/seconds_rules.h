// The rules of the seconds field, kept apart from the window so they can be tested
// on their own. The field's text is the counter: there is no other copy of the count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace main_window::seconds {

inline constexpr std::size_t kMaxLength = 7;
inline constexpr std::wstring_view kResetText = L"60";
// A countdown warns at every step from above it to it.
inline constexpr std::int64_t kWarningSeconds = 60;

// Digits and backspace reach the field; every other typed character is discarded. A
// full-width digit (０-９, as a Chinese input method types them in its full-width mode)
// passes too, turned into the ASCII digit the field receives.
[[nodiscard]] bool KeyPasses(wchar_t& code) noexcept;

[[nodiscard]] bool IsTooLong(std::wstring_view text) noexcept;

// The field as a count of seconds: nothing when it is empty or is not all digits
// (text pasted through the context menu can be anything).
[[nodiscard]] std::optional<std::int64_t> ReadValue(std::wstring_view text) noexcept;

// Shortest decimal text of a count: "59", "0", never leading zeros.
[[nodiscard]] std::wstring WriteValue(std::int64_t value);

// What a countdown tick writes into the field, or nothing when the field holds zero,
// nothing, or no number: the count never goes below zero.
[[nodiscard]] std::optional<std::wstring> TickText(std::wstring_view text);

// The zero test fires on a value of exactly 0, never on an empty field.
[[nodiscard]] bool IsZero(std::wstring_view text) noexcept;

}  // namespace main_window::seconds
