// A function of a DLL the program loads itself (comctl32, WinINet), looked up by name as
// the typed pointer its declaration gives.
#pragma once

#include <windows.h>

namespace toolkit {

// False, and `function` null, when the DLL lacks it.
template <typename Function>
[[nodiscard]] bool FindFunction(HMODULE library, const char* name, Function& function) {
  // Through void (*)(): the one function pointer type every other converts from cleanly.
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
  return function != nullptr;
}

}  // namespace toolkit
