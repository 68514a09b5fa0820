#include "adverts/slots.h"

#include <windows.h>

#include "adverts/advert_text.h"
#include "toolkit/message_loop.h"

namespace adverts {
namespace {

// Whether the system has the GB18030 tables (older systems and Wine have not). Asked at
// first use, on the user-interface thread (so no lock guards it), rather than before
// the program's first line, where no Windows call belongs.
bool HasGb18030() {
  static int has = -1;  // not yet asked
  if (has < 0) has = ::IsValidCodePage(kCodePageGb18030) ? 1 : 0;
  return has == 1;
}

// The system's tables for the multi-byte sequences the decoder has checked; a
// sequence they do not assign comes back empty and shows as U+FFFD.
std::u16string SystemSequence(unsigned code_page, std::string_view sequence) {
  // Without the GB18030 tables its two-byte part, which is GBK, still reads; its
  // four-byte forms then show as U+FFFD.
  if (code_page == kCodePageGb18030 && !HasGb18030()) {
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

std::optional<std::wstring> AdvertText(const std::optional<toolkit::InetResponse>& response) {
  // An error page is no advertisement, nor is a network's sign-in page answered 200.
  if (!response || !response->Succeeded() || IsWebPage(response->body)) return std::nullopt;
  return ToWide(DecodeBody(response->body, response->content_type, SystemSequence));
}

SlotTexts::SlotTexts(toolkit::Inet& inet1, std::wstring_view host, toolkit::InetClock::time_point deadline)
    : gg1_(inet1.Begin(PublisherUrl(host, L"gg1.txt"), deadline)),
      gg2_(inet1.Begin(PublisherUrl(host, L"gg2.txt"), deadline)),
      deadline_(deadline) {}

void SlotTexts::Fill(toolkit::Label& slot1, toolkit::Label& slot2) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - toolkit::InetClock::now());
  if (left > std::chrono::milliseconds::zero()) {
    toolkit::PumpMessagesUntil([&] { return !slot1.hwnd() || (gg1_->Done() && gg2_->Done()); }, left);
  }
  // The window may have been closed while the texts were awaited.
  if (!slot1.hwnd() || !slot2.hwnd()) return;
  if (auto text = AdvertText(gg1_->Take())) slot1.SetCaption(*text);
  if (auto text = AdvertText(gg2_->Take())) slot2.SetCaption(*text);
}

}  // namespace adverts
