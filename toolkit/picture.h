// The pictures the program stores packed in its resources: a BITMAPINFOHEADER and
// the 24-bit pixel rows as a zlib stream (written by resources/make_pictures.py).
#pragma once

#include <windows.h>

#include "toolkit/handles.h"

namespace toolkit {

// The picture as a DIB section, pixel for pixel as drawn; none when the resource is
// missing or damaged.
[[nodiscard]] UniqueBitmap LoadPackedPicture(HINSTANCE module, int resource);

}  // namespace toolkit
