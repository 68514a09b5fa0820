#include "adverts/advert_text.h"

#include <algorithm>
#include <array>

namespace adverts {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

unsigned char Byte(std::string_view bytes, std::size_t i) { return static_cast<unsigned char>(bytes[i]); }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// One step of UTF-8 at `i`: the code point and the bytes it took, or none with the
// length of the maximal ill-formed subpart (at least one byte).
struct Utf8Step {
  std::optional<char32_t> code_point;
  std::size_t length;
  bool cut_at_end;  // ill-formed only because the bytes ran out
};

Utf8Step NextUtf8(std::string_view bytes, std::size_t i) {
  const unsigned char lead = Byte(bytes, i);
  if (lead < 0x80) return {lead, 1, false};
  int need = 0;
  char32_t cp = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {std::nullopt, 1, false};
  }
  std::size_t j = i + 1;
  for (int k = 0; k < need; ++k, ++j) {
    if (j >= bytes.size()) return {std::nullopt, j - i, true};
    const unsigned char next = Byte(bytes, j);
    if (next < low || next > high) return {std::nullopt, j - i, false};
    cp = (cp << 6) | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {cp, j - i, false};
}

bool InRange(unsigned char b, unsigned char low, unsigned char high) { return b >= low && b <= high; }

}  // namespace

std::wstring PublisherUrl(std::wstring_view host, std::wstring_view document) {
  std::wstring url = L"http://";
  url += host;
  url += L'/';
  url += document;
  return url;
}

std::optional<std::string> CharsetParameter(std::string_view content_type) {
  std::size_t at = content_type.find(';');
  while (at != std::string_view::npos) {
    const std::size_t end = content_type.find(';', at + 1);
    const std::string_view parameter =
        content_type.substr(at + 1, end == std::string_view::npos ? std::string_view::npos : end - at - 1);
    at = end;
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos || !EqualsIgnoringCase(Trim(parameter.substr(0, equals)), "charset")) continue;
    std::string_view value = Trim(parameter.substr(equals + 1));
    if (!value.empty() && value.front() == '"') {
      value.remove_prefix(1);
      value = value.substr(0, value.find('"'));
    }
    value = Trim(value);
    if (value.empty()) return std::nullopt;
    return std::string(value);
  }
  return std::nullopt;
}

std::optional<unsigned> CodePageForCharset(std::string_view charset) {
  struct Name {
    std::string_view name;
    unsigned code_page;
  };
  static constexpr std::array<Name, 20> kNames{{
      {"utf-8", kCodePageUtf8},
      {"utf8", kCodePageUtf8},
      {"unicode-1-1-utf-8", kCodePageUtf8},
      {"x-unicode20utf8", kCodePageUtf8},
      {"gbk", kCodePageGbk},
      {"x-gbk", kCodePageGbk},
      {"gb2312", kCodePageGbk},
      {"gb_2312", kCodePageGbk},
      {"gb_2312-80", kCodePageGbk},
      {"csgb2312", kCodePageGbk},
      {"csiso58gb231280", kCodePageGbk},
      {"iso-ir-58", kCodePageGbk},
      {"chinese", kCodePageGbk},
      {"cp936", kCodePageGbk},
      {"ms936", kCodePageGbk},
      {"windows-936", kCodePageGbk},
      {"euc-cn", kCodePageGbk},
      {"x-euc-cn", kCodePageGbk},
      {"gb18030", kCodePageGb18030},
      {"gb-18030", kCodePageGb18030},
  }};
  charset = Trim(charset);
  for (const Name& known : kNames) {
    if (EqualsIgnoringCase(charset, known.name)) return known.code_page;
  }
  return std::nullopt;
}

bool LooksLikeUtf8(std::string_view bytes) {
  bool non_ascii = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Step step = NextUtf8(bytes, i);
    if (!step.code_point && !step.cut_at_end) return false;
    if (Byte(bytes, i) >= 0x80) non_ascii = true;
    i += step.length;
  }
  return non_ascii;
}

unsigned DetectCodePage(std::string_view content_type, std::string_view body) {
  if (const auto charset = CharsetParameter(content_type)) {
    if (const auto code_page = CodePageForCharset(*charset)) return *code_page;
  }
  if (body.substr(0, kUtf8Bom.size()) == kUtf8Bom || LooksLikeUtf8(body)) return kCodePageUtf8;
  return kCodePageGbk;
}

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Step step = NextUtf8(bytes, i);
    if (step.code_point) {
      AppendCodePoint(out, *step.code_point);
    } else {
      out.push_back(kReplacement);
    }
    i += step.length;
  }
  return out;
}

std::u16string DecodeGbk(std::string_view bytes, unsigned code_page, const SequenceDecoder& decode) {
  const bool four_byte = code_page == kCodePageGb18030;
  std::u16string out;
  out.reserve(bytes.size());
  const auto emit = [&](std::string_view sequence) {
    const std::u16string text = decode(code_page, sequence);
    out += text;
    return !text.empty();
  };
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = Byte(bytes, i);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    if (lead == 0x80) {
      out.push_back(u'\u20AC');  // the euro sign, a single byte in code page 936
      ++i;
      continue;
    }
    if (lead == 0xFF || i + 1 >= bytes.size()) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    const unsigned char trail = Byte(bytes, i + 1);
    if (four_byte && InRange(trail, 0x30, 0x39)) {
      if (i + 3 < bytes.size() && InRange(Byte(bytes, i + 2), 0x81, 0xFE) && InRange(Byte(bytes, i + 3), 0x30, 0x39) &&
          emit(bytes.substr(i, 4))) {
        i += 4;
      } else {
        out.push_back(kReplacement);  // the digit after the lead is read again as itself
        ++i;
      }
      continue;
    }
    if (InRange(trail, 0x40, 0xFE) && trail != 0x7F) {
      if (emit(bytes.substr(i, 2))) {
        i += 2;
      } else {
        out.push_back(kReplacement);
        i += trail < 0x80 ? 1 : 2;  // an ASCII trail is a character of its own
      }
      continue;
    }
    out.push_back(kReplacement);
    i += trail < 0x80 ? 1 : 2;
  }
  return out;
}

bool IsWebPage(std::string_view body) {
  if (body.substr(0, kUtf8Bom.size()) == kUtf8Bom) body.remove_prefix(kUtf8Bom.size());
  const std::size_t start = body.find_first_not_of(" \t\r\n\f");
  if (start == std::string_view::npos) return false;
  body.remove_prefix(start);
  const auto begins = [body](std::string_view tag) { return EqualsIgnoringCase(body.substr(0, tag.size()), tag); };
  return begins("<!doctype html") || begins("<html");
}

std::u16string DecodeBody(std::string_view body, std::string_view content_type,
                          const SequenceDecoder& decode_multibyte) {
  const unsigned code_page = DetectCodePage(content_type, body);
  std::u16string text;
  if (code_page == kCodePageUtf8) {
    if (body.substr(0, kUtf8Bom.size()) == kUtf8Bom) body.remove_prefix(kUtf8Bom.size());
    text = DecodeUtf8(body);
  } else {
    text = DecodeGbk(body, code_page, decode_multibyte);
  }
  std::replace(text.begin(), text.end(), u'\0', kReplacement);
  return text;
}

}  // namespace adverts
