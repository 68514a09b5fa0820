#include "toolkit/fonts.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace toolkit {
namespace {

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found_flag) {
  *reinterpret_cast<bool*>(found_flag) = true;
  return 0;
}

bool FaceInstalled(const std::wstring& face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  face.copy(query.lfFaceName, LF_FACESIZE - 1);
  HDC dc = ::GetDC(nullptr);
  bool found = false;
  ::EnumFontFamiliesExW(dc, &query, &NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, dc);
  return found;
}

// Looking a face up enumerates fonts, so each answer is remembered for the run.
std::vector<std::pair<std::wstring, std::wstring>> resolved_faces;

struct MadeFont {
  FontChoice asked;
  int dpi;
  UniqueFont font;
};
std::vector<MadeFont> shared_fonts;

}  // namespace

FontChoice DefaultFont() { return FontChoice{}; }

FontChoice YaHei(int points, int weight) { return FontChoice{L"微软雅黑", points, weight}; }

std::wstring ResolveFace(const std::wstring& face) {
  for (const auto& [asked, chosen] : resolved_faces)
    if (asked == face) return chosen;

  static constexpr std::array<const wchar_t*, 8> kFallbacks = {
      L"微软雅黑", L"Microsoft YaHei UI",  L"Microsoft YaHei",  L"SimSun",
      L"宋体",     L"WenQuanYi Micro Hei", L"Noto Sans CJK SC", L"Droid Sans Fallback"};
  // Windows knows 宋体 and 新宋体 by their English names too, whatever the system's language.
  static constexpr std::array<const wchar_t*, 4> kSongFamily = {L"宋体", L"SimSun", L"NSimSun", L"新宋体"};
  std::wstring chosen = face;
  if (!FaceInstalled(face)) {
    std::vector<const wchar_t*> candidates;
    if (face == kSongFamily[0] || face == kSongFamily[1]) candidates.assign(kSongFamily.begin(), kSongFamily.end());
    candidates.insert(candidates.end(), kFallbacks.begin(), kFallbacks.end());
    const auto installed = std::find_if(candidates.begin(), candidates.end(),
                                        [](const wchar_t* candidate) { return FaceInstalled(candidate); });
    if (installed != candidates.end()) chosen = *installed;
  }
  resolved_faces.emplace_back(face, chosen);
  return chosen;
}

UniqueFont CreateFontForDpi(const FontChoice& wanted, int dpi) {
  LOGFONTW font{};
  font.lfHeight = -::MulDiv(wanted.points, dpi, 72);
  font.lfWeight = wanted.weight;
  font.lfCharSet = GB2312_CHARSET;
  font.lfOutPrecision = OUT_TT_PRECIS;
  font.lfQuality = CLEARTYPE_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  ResolveFace(wanted.face).copy(font.lfFaceName, LF_FACESIZE - 1);
  return UniqueFont(::CreateFontIndirectW(&font));
}

HFONT SharedFont(const FontChoice& wanted, int dpi) {
  for (const MadeFont& made : shared_fonts)
    if (made.dpi == dpi && made.asked == wanted) return made.font.get();
  UniqueFont font = CreateFontForDpi(wanted, dpi);
  if (!font) return nullptr;  // asked for again next time
  shared_fonts.push_back({wanted, dpi, std::move(font)});
  return shared_fonts.back().font.get();
}

}  // namespace toolkit
