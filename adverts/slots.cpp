#include "adverts/slots.h"

#include <windows.h>

#include <algorithm>

#include "adverts/advert_text.h"
#include "toolkit/inet.h"

namespace adverts {
namespace {

// The system's tables for the multi-byte sequences the decoder has checked; a
// sequence they do not assign comes back empty and shows as U+FFFD.
std::u16string SystemSequence(unsigned code_page, std::string_view sequence) {
  // Without the GB18030 tables (older systems, Wine) its two-byte part, which is GBK,
  // still reads; its four-byte forms then show as U+FFFD.
  static const bool has_gb18030 = ::IsValidCodePage(kCodePageGb18030) != FALSE;
  if (code_page == kCodePageGb18030 && !has_gb18030) {
    if (sequence.size() != 2) return {};
    code_page = kCodePageGbk;
  }
  wchar_t out[4]{};
  const int length = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, sequence.data(),
                                           static_cast<int>(sequence.size()), out, 4);
  if (length <= 0) return {};
  return std::u16string(out, out + length);
}

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::optional<std::wstring> FetchAdvert(toolkit::Inet& inet1, std::wstring_view host, std::wstring_view document,
                                        std::chrono::milliseconds limit) {
  const std::optional<toolkit::InetResponse> response = inet1.OpenUrl(DocumentUrl(host, document), limit);
  // An error page is no advertisement.
  if (!response || !response->Succeeded()) return std::nullopt;
  return ToWide(DecodeBody(response->body, response->content_type, SystemSequence));
}

void FillSlots(toolkit::Label& slot1, toolkit::Label& slot2, toolkit::Inet& inet1, std::wstring_view host) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kLoadBudget;
  const auto left = [&] { return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()); };

  if (auto text = FetchAdvert(inet1, host, L"gg1.txt", std::min(kFirstSlotLimit, left()))) slot1.SetCaption(*text);
  // The window may have been closed while the first fetch waited.
  if (!slot2.hwnd() || left() <= std::chrono::milliseconds::zero()) return;
  if (auto text = FetchAdvert(inet1, host, L"gg2.txt", left())) slot2.SetCaption(*text);
}

}  // namespace adverts
