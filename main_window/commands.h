// The command lines the main window launches.
#pragma once

#include <string>
#include <string_view>

namespace main_window {

enum class PowerMode { Shutdown, Restart };

// Window style of every launched command: minimised, with the focus.
inline constexpr int kLaunchShowStyle = 2;

[[nodiscard]] std::wstring_view PowerCommandLine(PowerMode mode) noexcept;

// "http://" + host + "/": the publisher's site; host may carry a ":port".
[[nodiscard]] std::wstring SiteAddress(std::wstring_view host);

// "explorer.exe" + one space + the site's address.
[[nodiscard]] std::wstring BrowserCommandLine(std::wstring_view host);

}  // namespace main_window
