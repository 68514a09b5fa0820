// The two advertisement slots of the main window, filled from the publisher's site.
#pragma once

#include <string_view>

#include "toolkit/controls.h"

namespace toolkit {
class Inet;
}

namespace adverts {

// Fills slot 1 from "gg1.txt" and then slot 2 from "gg2.txt"; a failed fetch leaves
// the slot's built-in text.
void FillSlots(toolkit::Label& slot1, toolkit::Label& slot2, toolkit::Inet& inet1, std::wstring_view host);

}  // namespace adverts
