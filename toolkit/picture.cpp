#include "toolkit/picture.h"

#include <cstdint>
#include <cstring>
#include <span>

#include "toolkit/inflate.h"

namespace toolkit {

UniqueBitmap LoadPackedPicture(HINSTANCE module, int resource) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return {};
  const DWORD size = ::SizeofResource(module, found);
  HGLOBAL loaded = ::LoadResource(module, found);
  const auto* data = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  BITMAPINFO info{};
  if (!data || size < sizeof info.bmiHeader) return {};
  std::memcpy(&info.bmiHeader, data, sizeof info.bmiHeader);
  const BITMAPINFOHEADER& header = info.bmiHeader;
  // Only what the program stores: bottom-up 24-bit rows of a sensible size.
  if (header.biSize != sizeof header || header.biPlanes != 1 || header.biBitCount != 24 ||
      header.biCompression != BI_RGB || header.biWidth <= 0 || header.biWidth > 4096 || header.biHeight <= 0 ||
      header.biHeight > 4096)
    return {};

  void* bits = nullptr;
  UniqueBitmap picture(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!picture || !bits) return {};
  const std::size_t stride = (static_cast<std::size_t>(header.biWidth) * 3 + 3) & ~std::size_t{3};
  const std::span<std::uint8_t> pixels(static_cast<std::uint8_t*>(bits),
                                       stride * static_cast<std::size_t>(header.biHeight));
  if (!Inflate({data + sizeof header, size - sizeof header}, pixels)) return {};
  // Each byte was stored as its difference from the same colour one pixel to the left.
  for (std::size_t row = 0; row < pixels.size(); row += stride)
    for (std::size_t x = 3; x < stride; ++x)
      pixels[row + x] = static_cast<std::uint8_t>(pixels[row + x] + pixels[row + x - 3]);
  return picture;
}

}  // namespace toolkit
