// Fonts with Chinese glyphs. Every font asks for the GB2312 character set and, when
// its face is missing (as under Wine or on a stripped-down system), falls back to an
// installed face that has the glyphs instead of the default GUI font, which may not.
#pragma once

#include <string>

#include "toolkit/handles.h"

namespace toolkit {

// The windows were drawn in twips for 宋体 (SimSun) 9 pt, the form font of Chinese
// Windows: a 12 px line at 96 DPI, which their boxes are made to hold.
struct FontChoice {
  std::wstring face = L"宋体";
  int points = 9;
  int weight = FW_NORMAL;

  friend bool operator==(const FontChoice&, const FontChoice&) = default;
};

// The font of controls that name none.
[[nodiscard]] FontChoice DefaultFont();

// "微软雅黑" (Microsoft YaHei), where a window names its font.
[[nodiscard]] FontChoice YaHei(int points, int weight);

// The face a font will use: the one asked for when installed; for 宋体 (SimSun) else its
// other name, else 新宋体 (NSimSun), of the same metrics; else the first installed CJK
// face of a fixed list; else the one asked for (the font mapper decides).
[[nodiscard]] std::wstring ResolveFace(const std::wstring& face);

[[nodiscard]] UniqueFont CreateFontForDpi(const FontChoice& wanted, int dpi);

// The program's one font for `wanted` at `dpi`, made on first use and kept for the
// rest of the run, so every window shares it and no window is ever left holding a
// deleted one (as after a move to another DPI). User-interface thread only.
[[nodiscard]] HFONT SharedFont(const FontChoice& wanted, int dpi);

}  // namespace toolkit
