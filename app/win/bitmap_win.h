// Pictures held in memory as complete BMP files, decoded into displayable bitmaps.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace taktor {

// A bitmap file held in memory as a 24-bit picture, or nullptr when it is not one.
HBITMAP DecodeBitmapFile(const std::uint8_t* data, std::size_t size);

// The RCDATA resource of the given id, decoded as a bitmap file; nullptr when it is missing or
// not a 24-bit bitmap.
HBITMAP LoadBitmapResource(HINSTANCE instance, int id);

}  // namespace taktor
