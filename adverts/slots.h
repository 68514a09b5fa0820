// The two advertisement slots of the main window, filled from the publisher's site.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/controls.h"
#include "toolkit/inet.h"

namespace adverts {

// The splash window promises the load takes under 20 s. Both fetches together get
// this much from the moment they are sent.
inline constexpr std::chrono::milliseconds kLoadBudget{15000};

// The text a slot shows for a fetch's outcome, or none (keep the built-in text) when
// the fetch failed or the server answered with anything but a 2xx status.
[[nodiscard]] std::optional<std::wstring> AdvertText(const std::optional<toolkit::InetResponse>& response);

// The texts of both slots, "gg1.txt" and "gg2.txt" on `host`, each asked for once.
// Both requests go out together when this is made (at process start, while the
// splash shows), so the network's time passes before the main window needs them.
class SlotTexts {
 public:
  SlotTexts(toolkit::Inet& inet1, std::wstring_view host, toolkit::InetClock::time_point deadline);

  // Takes what has arrived and waits, messages flowing, only for what has not, until
  // the deadline or until the slots' window closes. A failed fetch leaves the slot's
  // built-in text, an empty body leaves the slot blank; a closed window gets nothing.
  void Fill(toolkit::Label& slot1, toolkit::Label& slot2);

 private:
  std::unique_ptr<toolkit::InetFetch> gg1_;
  std::unique_ptr<toolkit::InetFetch> gg2_;
  toolkit::InetClock::time_point deadline_;
};

}  // namespace adverts
