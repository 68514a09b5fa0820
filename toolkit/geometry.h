// Layout is designed in twips (1/1440 inch); pixels appear only at the edge, scaled
// with the window's real DPI so the windows stay crisp at any scale.
#pragma once

namespace toolkit {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDefaultDpi = 96;

// Rounds to the nearest pixel, like MulDiv(twips, dpi, 1440) does.
[[nodiscard]] constexpr int TwipsToPixels(int twips, int dpi) noexcept {
  const long long scaled = static_cast<long long>(twips) * dpi;
  const long long half = kTwipsPerInch / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kTwipsPerInch : -((-scaled + half) / kTwipsPerInch));
}

[[nodiscard]] constexpr int PixelsToTwips(int pixels, int dpi) noexcept {
  if (dpi <= 0) dpi = kDefaultDpi;
  const long long scaled = static_cast<long long>(pixels) * kTwipsPerInch;
  return static_cast<int>(scaled >= 0 ? (scaled + dpi / 2) / dpi : -((-scaled + dpi / 2) / dpi));
}

// Scales a size designed in 96-DPI pixels (pictures) to the given DPI.
[[nodiscard]] constexpr int ScalePixels(int pixels96, int dpi) noexcept {
  const long long scaled = static_cast<long long>(pixels96) * dpi;
  return static_cast<int>((scaled + kDefaultDpi / 2) / kDefaultDpi);
}

struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

}  // namespace toolkit
