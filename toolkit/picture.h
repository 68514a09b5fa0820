// The pictures the program stores in its resources as image files, a JPEG or a PNG
// (written by resources/make_pictures.py), decoded by Windows Imaging Component.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "toolkit/handles.h"

namespace toolkit {

// The picture as a DIB section, pixel for pixel as decoded; none when the file is
// damaged or no image.
[[nodiscard]] UniqueBitmap DecodePicture(std::span<const std::uint8_t> file);

// The same of an RCDATA resource; none when it is missing.
[[nodiscard]] UniqueBitmap LoadPicture(HINSTANCE module, int resource);

}  // namespace toolkit
