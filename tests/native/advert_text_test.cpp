#include "adverts/advert_text.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using adverts::kCodePageGb18030;
using adverts::kCodePageGbk;
using adverts::kCodePageUtf8;

// Stands in for the system's code-page tables: a few known sequences, every other one
// unassigned. It records what it was asked, to show how the bytes were split.
struct FakeTables {
  std::vector<std::pair<unsigned, std::string>> asked;
  std::u16string operator()(unsigned code_page, std::string_view sequence) {
    asked.emplace_back(code_page, std::string(sequence));
    static const std::map<std::string, std::u16string> kKnown{
        {"\xC4\xE3", u"\u4F60"},          // 你
        {"\xBA\xC3", u"\u597D"},          // 好
        {"\xB9\xE3", u"\u5E7F"},          // 广
        {"\x81\x30\x81\x30", u"\u0080"},  // GB18030's first four-byte sequence
    };
    const auto found = kKnown.find(std::string(sequence));
    return found == kKnown.end() ? std::u16string() : found->second;
  }
};

std::u16string Body(std::string_view body, std::string_view content_type = "text/plain") {
  FakeTables tables;
  return adverts::DecodeBody(body, content_type, std::ref(tables));
}

TEST(AdvertUrl, IsTheDocumentUnderTheHostWithAnyPortKept) {
  EXPECT_EQ(adverts::PublisherUrl(L"www.morvane.example", L"gg1.txt"), L"http://www.morvane.example/gg1.txt");
  EXPECT_EQ(adverts::PublisherUrl(L"127.0.0.1:38411", L"gg2.txt"), L"http://127.0.0.1:38411/gg2.txt");
  EXPECT_EQ(adverts::PublisherUrl(L"www.morvane.example"), L"http://www.morvane.example/");
}

TEST(AdvertCharset, IsFoundInAnyParameterWithCaseSpacesAndQuotes) {
  EXPECT_EQ(adverts::CharsetParameter("text/plain; charset=GBK"), "GBK");
  EXPECT_EQ(adverts::CharsetParameter("text/plain;charset=\"utf-8\""), "utf-8");
  EXPECT_EQ(adverts::CharsetParameter("text/plain; format=flowed; CharSet = gb2312 "), "gb2312");
  EXPECT_EQ(adverts::CharsetParameter("text/plain; charset=\" UTF-8 \"; x=1"), "UTF-8");
  EXPECT_EQ(adverts::CharsetParameter("text/plain; charset=utf-8;"), "utf-8");
  EXPECT_EQ(adverts::CharsetParameter("text/plain"), std::nullopt);
  EXPECT_EQ(adverts::CharsetParameter("text/plain; format=flowed"), std::nullopt);
  EXPECT_EQ(adverts::CharsetParameter("text/plain; charset="), std::nullopt);
  EXPECT_EQ(adverts::CharsetParameter("text/plain; xcharset=gbk"), std::nullopt);
  EXPECT_EQ(adverts::CharsetParameter(""), std::nullopt);
}

TEST(AdvertCharset, NamesMapToTheCodePagesThatReadThem) {
  EXPECT_EQ(adverts::CodePageForCharset("UTF-8"), kCodePageUtf8);
  EXPECT_EQ(adverts::CodePageForCharset("utf8"), kCodePageUtf8);
  for (const char* gbk : {"gbk", "GBK", "GB2312", "gb_2312-80", "cp936", "x-gbk", "windows-936"}) {
    EXPECT_EQ(adverts::CodePageForCharset(gbk), kCodePageGbk) << gbk;
  }
  EXPECT_EQ(adverts::CodePageForCharset("GB18030"), kCodePageGb18030);
  EXPECT_EQ(adverts::CodePageForCharset("big5"), std::nullopt);
  EXPECT_EQ(adverts::CodePageForCharset("utf-16"), std::nullopt);
  EXPECT_EQ(adverts::CodePageForCharset(""), std::nullopt);
}

TEST(AdvertDetection, ADeclaredCharsetWinsThenTheBomThenValidUtf8ThenGbk) {
  const std::string utf8 = "\xE5\xB9\xBF";  // 广 in UTF-8
  const std::string gbk = "\xB9\xE3";       // 广 in GBK
  EXPECT_EQ(adverts::DetectCodePage("text/plain; charset=gbk", utf8), kCodePageGbk);
  EXPECT_EQ(adverts::DetectCodePage("text/plain; charset=utf-8", gbk), kCodePageUtf8);
  EXPECT_EQ(adverts::DetectCodePage("text/plain; charset=gbk", "\xEF\xBB\xBF" + utf8), kCodePageGbk);
  EXPECT_EQ(adverts::DetectCodePage("text/plain", "\xEF\xBB\xBF" + gbk), kCodePageUtf8);
  EXPECT_EQ(adverts::DetectCodePage("text/plain", utf8), kCodePageUtf8);
  EXPECT_EQ(adverts::DetectCodePage("text/plain", gbk), kCodePageGbk);
  // A charset this program does not read is as good as none.
  EXPECT_EQ(adverts::DetectCodePage("text/plain; charset=big5", utf8), kCodePageUtf8);
  EXPECT_EQ(adverts::DetectCodePage("", "plain ascii"), kCodePageGbk);
  // Cut off at the size cap in the middle of a character: still UTF-8.
  EXPECT_EQ(adverts::DetectCodePage("", utf8 + utf8.substr(0, 2)), kCodePageUtf8);
  // Common GBK texts are not valid UTF-8.
  EXPECT_EQ(adverts::DetectCodePage("", "\xC4\xE3\xBA\xC3"), kCodePageGbk);
}

TEST(AdvertUtf8, DecodesAndStripsTheBom) {
  EXPECT_EQ(Body("\xEF\xBB\xBF\xE5\xB9\xBF\xE5\x91\x8A"), u"\u5E7F\u544A");
  EXPECT_EQ(Body("\xE5\xB9\xBF ad", "text/plain; charset=UTF-8"), u"\u5E7F ad");
  EXPECT_EQ(Body("\xEF\xBB\xBFok", "text/plain; charset=utf-8"), u"ok");
  EXPECT_EQ(Body("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Body("line 1\r\nline 2 & more"), u"line 1\r\nline 2 & more");
}

TEST(AdvertUtf8, EachMaximalIllFormedSubpartBecomesOneReplacement) {
  const auto decode = [](std::string_view bytes) { return adverts::DecodeUtf8(bytes); };
  EXPECT_EQ(decode("a\xE4\xBDz"), u"a\uFFFDz");              // truncated three-byte form
  EXPECT_EQ(decode("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(decode("\xE0\x80\x80"), u"\uFFFD\uFFFD\uFFFD");  // overlong, three bytes
  EXPECT_EQ(decode("\xE0\x9F\xBF"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(decode("\xF0\x8F\xBF\xBF"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // overlong, four bytes
  EXPECT_EQ(decode("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // a surrogate
  EXPECT_EQ(decode("\xED\xBF\xBF"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(decode("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(decode("\xF0\x9F\x98"), u"\uFFFD");                        // cut at the end
  EXPECT_EQ(decode("\x80x\xFF"), u"\uFFFDx\uFFFD");
  // Declared UTF-8 that is not: replacements, never a shorter text.
  EXPECT_EQ(Body("\xC4\xE3ok", "text/plain; charset=utf-8"), u"\uFFFD\uFFFDok");
}

TEST(AdvertGbk, ValidPairsGoToTheTablesAndTheRestBecomesReplacements) {
  FakeTables tables;
  EXPECT_EQ(adverts::DecodeGbk("\xC4\xE3\xBA\xC3, ad", kCodePageGbk, std::ref(tables)), u"\u4F60\u597D, ad");
  ASSERT_EQ(tables.asked.size(), 2u);
  EXPECT_EQ(tables.asked[0], std::make_pair(kCodePageGbk, std::string("\xC4\xE3")));

  const auto decode = [](std::string_view bytes, unsigned code_page = kCodePageGbk) {
    FakeTables fake;
    return adverts::DecodeGbk(bytes, code_page, std::ref(fake));
  };
  EXPECT_EQ(decode("a\xC4"), u"a\uFFFD");          // lead byte at the end
  EXPECT_EQ(decode("\xC4\x7Fz"), u"\uFFFD\x7Fz");  // 0x7F is no trail
  EXPECT_EQ(decode("\xC4\x20z"), u"\uFFFD z");     // nor is a space: it stays
  EXPECT_EQ(decode("\xC4\xFFz"), u"\uFFFDz");      // a bad high trail goes with its lead
  EXPECT_EQ(decode("\xFF!"), u"\uFFFD!");
  EXPECT_EQ(decode("\x80"), u"\u20AC");
  // Unassigned pair: an ASCII trail is a character of its own, a high one is not.
  EXPECT_EQ(decode("\xA2\x41"), u"\uFFFDA");
  EXPECT_EQ(decode("\xA2\xA1z"), u"\uFFFDz");
  // Four-byte forms exist only in GB18030.
  EXPECT_EQ(decode("\x81\x30\x81\x30"), u"\uFFFD0\uFFFD0");
  EXPECT_EQ(decode("\x81\x30\x81\x30", kCodePageGb18030), u"\u0080");
  EXPECT_EQ(decode("\x81\x30 ", kCodePageGb18030), u"\uFFFD0 ");
}

TEST(AdvertBody, ANulNeverCutsTheTextShortAndEmptyStaysEmpty) {
  EXPECT_EQ(Body(std::string("a\0b", 3)), u"a\uFFFDb");
  EXPECT_EQ(Body(std::string("\xE5\xB9\xBF\0!", 5)), u"\u5E7F\uFFFD!");
  EXPECT_EQ(Body(std::string("\xB9\xE3\0", 3)), u"\u5E7F\uFFFD");
  EXPECT_EQ(Body(""), u"");
  EXPECT_EQ(Body("\xEF\xBB\xBF"), u"");
  EXPECT_EQ(Body("\xB9\xE3\xB8", "text/plain; charset=gb2312"), u"\u5E7F\uFFFD");
}

TEST(AdvertBody, OnlyABodyOpeningAsAWebPageIsOne) {
  for (const char* page : {"<!DOCTYPE html>", "<!doctype HTML public>", "<html>", "<HTML lang=zh>", "<htmlx",
                           "\xEF\xBB\xBF \r\n\t\f<Html>"})
    EXPECT_TRUE(adverts::IsWebPage(page)) << page;
  for (const char* text : {"", " ", "\xEF\xBB\xBF", "<!DOCTYPE htm", "<htm", "<!DOCTYPE svg>", "<head>",
                           "\xEF\xBB\xBF\xEF\xBB\xBF<html>", "\v<html>", "ad <html>", "<b>ad</b>"})
    EXPECT_FALSE(adverts::IsWebPage(text)) << text;
}

}  // namespace
