// Turning a fetched advertisement body into the text its slot shows.
//
// The publisher writes the texts by hand, in GBK or in UTF-8, and the server may or may
// not say which. A charset named in the Content-Type wins; otherwise a UTF-8 byte-order
// mark, otherwise bytes that are valid UTF-8, otherwise GBK. Nothing that arrives may
// cut the text short or vanish silently: every byte that does not decode shows as
// U+FFFD, and so does a NUL (a window caption would otherwise end there).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace adverts {

inline constexpr unsigned kCodePageGbk = 936;
inline constexpr unsigned kCodePageGb18030 = 54936;
inline constexpr unsigned kCodePageUtf8 = 65001;
inline constexpr char16_t kReplacement = u'\uFFFD';

// "http://" + host + "/" + document: a document on the publisher's site, or the site itself
// for none; the host may carry ":port". The adverts are fetched from it, the browser opens it.
[[nodiscard]] std::wstring PublisherUrl(std::wstring_view host, std::wstring_view document = {});

// The value of the charset parameter of a Content-Type, unquoted; none if absent.
[[nodiscard]] std::optional<std::string> CharsetParameter(std::string_view content_type);

// The code page a charset name stands for (any case), if it is one this program reads:
// UTF-8, the GBK family (GB2312 and CP936 are served as GBK) and GB18030.
[[nodiscard]] std::optional<unsigned> CodePageForCharset(std::string_view charset);

// The code page to read a body in: a known charset from the Content-Type, else UTF-8
// for a byte-order mark or valid UTF-8 with non-ASCII bytes, else GBK.
[[nodiscard]] unsigned DetectCodePage(std::string_view content_type, std::string_view body);

// Whether `bytes` are UTF-8 holding at least one non-ASCII character. An incomplete
// sequence at the very end is tolerated: a body cut off at the size cap may end there.
[[nodiscard]] bool LooksLikeUtf8(std::string_view bytes);

// UTF-8 to UTF-16, each maximal ill-formed subpart becoming one U+FFFD.
[[nodiscard]] std::u16string DecodeUtf8(std::string_view bytes);

// Turns one structurally valid double-byte (or, for GB18030, four-byte) sequence of the
// code page into UTF-16; empty when the code page assigns nothing there.
using SequenceDecoder = std::function<std::u16string(unsigned code_page, std::string_view sequence)>;

// GBK (or GB18030, which adds four-byte sequences) to UTF-16. The structure is checked here: a lead
// byte 0x81-0xFE takes a trail 0x40-0xFE other than 0x7F; anything else is one U+FFFD.
// When a pair is unassigned and its trail is ASCII, the trail is read again as ASCII.
[[nodiscard]] std::u16string DecodeGbk(std::string_view bytes, unsigned code_page, const SequenceDecoder& decode);

// Whether a body is a web page rather than an advertisement: after an optional UTF-8
// byte-order mark and white space it begins with "<!DOCTYPE html" or "<html", in any
// case. Hotel, campus and public networks before their sign-in, and operators that
// inject pages, answer every plain-HTTP request with one, status 200.
[[nodiscard]] bool IsWebPage(std::string_view body);

// The whole decoding of a body, for its Content-Type. NULs become U+FFFD.
[[nodiscard]] std::u16string DecodeBody(std::string_view body, std::string_view content_type,
                                        const SequenceDecoder& decode_multibyte);

}  // namespace adverts
