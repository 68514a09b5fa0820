// The pictures compiled into the program, as Windows loads them, and where they show.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "main_window/main_form.h"
#include "toolkit/fonts.h"
#include "toolkit/picture.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "tests/wine/test_support.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved, type, count;
};
#pragma pack(pop)

TEST(Resources, TheApplicationIconHoldsElevenImagesOfFourSizesAndFourDepths) {
  HINSTANCE self = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(self, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
  ASSERT_NE(found, nullptr);
  const auto* header = static_cast<const GroupIconHeader*>(::LockResource(::LoadResource(self, found)));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->count, 11);
  const auto* entries = reinterpret_cast<const GroupIconEntry*>(header + 1);
  std::set<int> sizes;
  std::set<int> depths;
  for (int i = 0; i < header->count; ++i) {
    sizes.insert(entries[i].width == 0 ? 256 : entries[i].width);
    depths.insert(entries[i].bit_count);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 128}));
  EXPECT_EQ(depths, (std::set<int>{1, 4, 8, 32}));
}

// The largest image is stored as a PNG; asked for at its size (a big icon at 250 %),
// it must come out whole, with its see-through corners.
TEST(Resources, TheLargestIconImageLoadsFromItsPng) {
  HICON icon =
      static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 128, 128, 0));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(icon, &info));
  ASSERT_NE(info.hbmColor, nullptr);
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = 128;
  format.bmiHeader.biHeight = -128;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  std::vector<std::uint32_t> pixels(128 * 128);
  HDC screen = ::GetDC(nullptr);
  EXPECT_EQ(::GetDIBits(screen, info.hbmColor, 0, 128, pixels.data(), &format, DIB_RGB_COLORS), 128);
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(pixels[0] >> 24, 0u) << "top-left corner is see-through";
  EXPECT_EQ(pixels[64 * 128 + 64] >> 24, 255u) << "the middle is opaque";
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  ::DestroyIcon(icon);
}

TEST(Resources, TheMainWindowsCursorIs32PixelsWithItsHotSpotAtNineEight) {
  HCURSOR cursor = static_cast<HCURSOR>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_POINTER), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
  ASSERT_NE(cursor, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(cursor, &info));
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 9u);
  EXPECT_EQ(info.yHotspot, 8u);
  BITMAP mask{};
  ::GetObjectW(info.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(mask.bmWidth, 32);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  ::DestroyCursor(cursor);

  // Over the window's own surface the window puts it up; over a control it does not.
  test_support::RecordingLauncher launcher;
  test_support::ScriptedPrompter prompter;
  main_window::main form{{launcher, prompter, L"www.morvane.example"}};
  form.Show();
  ::SetCursor(nullptr);
  EXPECT_TRUE(::SendMessageW(form.hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form.hwnd()),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  ICONINFO shown{};
  ASSERT_TRUE(::GetIconInfo(::GetCursor(), &shown));
  EXPECT_EQ(shown.xHotspot, 9u);
  EXPECT_EQ(shown.yHotspot, 8u);
  if (shown.hbmColor) ::DeleteObject(shown.hbmColor);
  ::DeleteObject(shown.hbmMask);
  EXPECT_FALSE(::SendMessageW(form.hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form.Text1.hwnd()),
                              MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  form.Unload();
}

std::uint32_t Fnv1a(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t hash = 0x811C9DC5u;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x01000193u;
  return hash;
}

// The pictures decode to their drawn size, the About picture to its drawn pixels (the
// sum is that of resources/about.bmp's rows, top-down); a damaged copy gives no picture
// rather than a wrong or half-drawn one.
TEST(Resources, PicturesDecodeToTheirSizeAndDamageGivesNone) {
  HINSTANCE self = ::GetModuleHandleW(nullptr);
  struct Expected {
    int resource, width, height;
    std::uint32_t sum;
  };
  for (const Expected& want : {Expected{IDB_SPLASH, 420, 222, 0}, Expected{IDB_ABOUT, 115, 115, 0x3F486F3Fu}}) {
    toolkit::UniqueBitmap picture = toolkit::LoadPicture(self, want.resource);
    ASSERT_TRUE(picture) << want.resource;
    DIBSECTION dib{};
    ASSERT_EQ(::GetObjectW(picture.get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, want.width);
    EXPECT_EQ(std::abs(dib.dsBm.bmHeight), want.height);  // top-down: the sign is not promised
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
    if (want.sum) {  // a JPEG's pixels differ in the last bit from one decoder to another
      // Read back top-down, whatever the section's header says: upside down sums otherwise.
      BITMAPINFO top_down{};
      top_down.bmiHeader = {sizeof top_down.bmiHeader, want.width, -want.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
      std::vector<std::uint8_t> rows(static_cast<std::size_t>((want.width * 3 + 3) & ~3) * want.height);
      const HDC screen = ::GetDC(nullptr);
      EXPECT_EQ(::GetDIBits(screen, picture.get(), 0, want.height, rows.data(), &top_down, DIB_RGB_COLORS),
                want.height);
      ::ReleaseDC(nullptr, screen);
      EXPECT_EQ(Fnv1a(rows.data(), rows.size()), want.sum);
    }

    HRSRC found = ::FindResourceW(self, MAKEINTRESOURCEW(want.resource), RT_RCDATA);
    const auto* data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(self, found)));
    std::vector<std::uint8_t> file(data, data + ::SizeofResource(self, found));
    EXPECT_FALSE(toolkit::DecodePicture(std::span(file).first(file.size() / 2))) << "cut short";
    if (want.resource == IDB_ABOUT) {  // the PNG cut short by its IEND, ending as a JPEG ends
      std::vector<std::uint8_t> cut(file.begin(), file.end() - 12);
      cut.insert(cut.end(), {0xFF, 0xD9});
      EXPECT_FALSE(toolkit::DecodePicture(cut)) << "cut short, ending in FF D9";
    }
    file[1] ^= 0x5A;
    EXPECT_FALSE(toolkit::DecodePicture(file)) << "not an image";
  }
  EXPECT_FALSE(toolkit::LoadPicture(self, 999)) << "missing";
}

TEST(Resources, TheVersionInformationNamesTheProgram) {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, data.data()));
  wchar_t* product = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\080404b0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
  EXPECT_STREQ(product, L"Morvane关机工具V2014");

  // The numbers Windows shows in the file's properties and the version texts all come
  // from the version set in CMakeLists.txt: the fixed numbers spell the FileVersion
  // text, which extends the ProductVersion text.
  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  const std::wstring numbers =
      std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
      std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  wchar_t* file_version = nullptr;
  wchar_t* product_version = nullptr;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\080404b0\\FileVersion",
                               reinterpret_cast<void**>(&file_version), &length));
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\080404b0\\ProductVersion",
                               reinterpret_cast<void**>(&product_version), &length));
  EXPECT_STREQ(product_version, MORVANE_PRODUCT_VERSION);
  EXPECT_EQ(numbers, file_version);
  EXPECT_EQ(numbers.rfind(std::wstring(product_version) + L".", 0), 0u) << product_version;
}

}  // namespace

namespace {

// Whether the font draws every character of `text` from its own glyphs.
bool HasGlyphs(HFONT font, const wchar_t* text) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  const int length = static_cast<int>(wcslen(text));
  std::vector<WORD> glyphs(static_cast<std::size_t>(length));
  const DWORD done = ::GetGlyphIndicesW(dc, text, length, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return done == static_cast<DWORD>(length) &&
         std::none_of(glyphs.begin(), glyphs.end(), [](WORD g) { return g == 0xFFFF; });
}

// The Chinese captions must never fall back to a face without their glyphs (the
// default GUI font under Wine has none): Microsoft YaHei where it is installed, else
// another installed CJK face.
TEST(Fonts, NamedAndDefaultFontsHaveTheChineseGlyphsAtEveryScale) {
  // On a Chinese desk's code page, as the tests are meant to run: without the zh_CN.UTF-8
  // locale, Wine falls back to en-US and 1252.
  EXPECT_EQ(::GetACP(), 936u) << "no zh_CN.UTF-8 locale (scripts/deps.sh generates it)";
  for (int dpi : {96, 144}) {
    for (const toolkit::FontChoice& wanted :
         {toolkit::YaHei(12, FW_BOLD), toolkit::YaHei(9, FW_NORMAL), toolkit::DefaultFont()}) {
      toolkit::UniqueFont font = toolkit::CreateFontForDpi(wanted, dpi);
      ASSERT_TRUE(font);
      EXPECT_TRUE(HasGlyphs(font.get(), L"关机重启广告位错误")) << "at " << dpi << " DPI, weight " << wanted.weight;
      LOGFONTW made{};
      ::GetObjectW(font.get(), sizeof made, &made);
      EXPECT_EQ(made.lfHeight, -::MulDiv(wanted.points, dpi, 72));
      EXPECT_EQ(made.lfWeight, wanted.weight);
    }
  }
}

}  // namespace
