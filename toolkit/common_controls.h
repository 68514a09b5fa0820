// The standard controls' library, comctl32 version 6, loaded once the program has
// restricted where DLLs come from, and its few functions the program calls.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace toolkit {

struct CommonControls {
  decltype(&::InitCommonControlsEx) InitCommonControlsEx = nullptr;
  decltype(&::LoadIconMetric) LoadIconMetric = nullptr;
  decltype(&::LoadIconWithScaleDown) LoadIconWithScaleDown = nullptr;
  decltype(&::SetWindowSubclass) SetWindowSubclass = nullptr;
  decltype(&::RemoveWindowSubclass) RemoveWindowSubclass = nullptr;
  decltype(&::DefSubclassProc) DefSubclassProc = nullptr;
};

// Loads comctl32 from the system folder, which the manifest turns into version 6 from
// WinSxS, looks its functions up and registers the standard control classes. Once is
// enough; false when the library or one of its functions is missing, and then no form
// may be shown.
[[nodiscard]] bool LoadCommonControls();

// The functions, once LoadCommonControls has succeeded.
[[nodiscard]] const CommonControls& Comctl32() noexcept;

// The loaded library, or null.
[[nodiscard]] HMODULE CommonControlsModule() noexcept;

}  // namespace toolkit
