// The two advertisement slots of the main window, filled from the publisher's site.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/controls.h"

namespace toolkit {
class Inet;
}

namespace adverts {

// The splash window promises the load takes under 20 s. Both fetches together get
// this much, and the first no more than its share, so the second still has a chance.
inline constexpr std::chrono::milliseconds kLoadBudget{15000};
inline constexpr std::chrono::milliseconds kFirstSlotLimit{8000};

// The text a slot shows for `document` on `host`, or none (keep the built-in text)
// when the fetch failed or the server answered with anything but a 2xx status.
[[nodiscard]] std::optional<std::wstring> FetchAdvert(toolkit::Inet& inet1, std::wstring_view host,
                                                      std::wstring_view document, std::chrono::milliseconds limit);

// Fills slot 1 from "gg1.txt" and then slot 2 from "gg2.txt"; a failed fetch leaves
// the slot's built-in text, an empty body leaves the slot blank.
void FillSlots(toolkit::Label& slot1, toolkit::Label& slot2, toolkit::Inet& inet1, std::wstring_view host);

}  // namespace adverts
