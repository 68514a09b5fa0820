#include "main_window/commands.h"

namespace main_window {

std::wstring_view PowerCommandLine(PowerMode mode) noexcept {
  return mode == PowerMode::Shutdown ? L"cmd.exe /c shutdown -s -t 3" : L"cmd.exe /c shutdown -r -t 3";
}

std::wstring SiteAddress(std::wstring_view host) {
  std::wstring address = L"http://";
  address += host;
  address += L'/';
  return address;
}

std::wstring BrowserCommandLine(std::wstring_view host) { return L"explorer.exe " + SiteAddress(host); }

}  // namespace main_window
