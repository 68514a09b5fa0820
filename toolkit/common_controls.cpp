#include "toolkit/common_controls.h"

#include "toolkit/dll_function.h"
#include "toolkit/newer_windows.h"

namespace toolkit {
namespace {

// Filled once on the user-interface thread, before its first window; constant-
// initialised, so nothing here runs before the program's first line.
CommonControls functions;
HMODULE module = nullptr;

}  // namespace

bool LoadCommonControls() {
  if (module) return true;
  // Not imported: version 6 is no Known DLL, so Windows would resolve its own imports by
  // name, in the program's folder first, before the program's first line. Asked for by
  // name, it is still redirected to version 6 in WinSxS by the manifest's dependency
  // (the process's default activation context), ahead of any folder; without that, the
  // system folder's version 5 would come, which lacks LoadIconMetric and is refused.
  // Windows 7 without KB2533623 refuses the search flag: there the manifest's redirection
  // alone names the file, ahead of every folder of the search.
  const HMODULE library =
      ::LoadLibraryExW(L"comctl32.dll", nullptr, Newer().SetDefaultDllDirectories ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0);
  if (!library) return false;
  CommonControls found;
  // LoadIconMetric and LoadIconWithScaleDown exist in version 6 only.
  const bool complete = FindFunction(library, "InitCommonControlsEx", found.InitCommonControlsEx) &&
                        FindFunction(library, "LoadIconMetric", found.LoadIconMetric) &&
                        FindFunction(library, "LoadIconWithScaleDown", found.LoadIconWithScaleDown) &&
                        FindFunction(library, "SetWindowSubclass", found.SetWindowSubclass) &&
                        FindFunction(library, "RemoveWindowSubclass", found.RemoveWindowSubclass) &&
                        FindFunction(library, "DefSubclassProc", found.DefSubclassProc);
  if (!complete) {
    ::FreeLibrary(library);
    return false;
  }
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES};
  found.InitCommonControlsEx(&classes);
  // Never freed: every subclassed control calls into it until the process ends.
  functions = found;
  module = library;
  return true;
}

const CommonControls& Comctl32() noexcept { return functions; }

HMODULE CommonControlsModule() noexcept { return module; }

}  // namespace toolkit
