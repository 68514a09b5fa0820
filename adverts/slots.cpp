#include "adverts/slots.h"

namespace adverts {

void FillSlots(toolkit::Label&, toolkit::Label&, toolkit::Inet&, std::wstring_view) {}

}  // namespace adverts
