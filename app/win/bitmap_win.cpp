// Decoding the built-in cycle banner, a complete BMP file, from memory.
#include "app/win/bitmap_win.h"

#include <cstring>

namespace taktor {

HBITMAP DecodeBitmapFile(const std::uint8_t* data, std::size_t size) {
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    if (size < sizeof(file) + sizeof(info)) {
        return nullptr;
    }
    std::memcpy(&file, data, sizeof(file));
    std::memcpy(&info, data + sizeof(file), sizeof(info));
    if (file.bfType != 0x4D42 || info.biSize < sizeof(info) || info.biPlanes != 1 ||
        info.biBitCount != 24 || info.biCompression != BI_RGB || info.biWidth <= 0 ||
        info.biWidth > 32768 || info.biHeight == 0 || info.biHeight < -32768 ||
        info.biHeight > 32768) {
        return nullptr;
    }
    const std::size_t stride = ((static_cast<std::size_t>(info.biWidth) * 24 + 31) / 32) * 4;
    const std::size_t rows =
        static_cast<std::size_t>(info.biHeight < 0 ? -info.biHeight : info.biHeight);
    const std::size_t pixels = stride * rows;
    if (file.bfOffBits > size || size - file.bfOffBits < pixels) {
        return nullptr;
    }
    BITMAPINFO bitmap = {};
    bitmap.bmiHeader = info;
    bitmap.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmap.bmiHeader.biSizeImage = 0;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(nullptr, &bitmap, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (picture != nullptr && bits != nullptr) {
        std::memcpy(bits, data + file.bfOffBits, pixels);
        GdiFlush();
    }
    return picture;
}

HBITMAP LoadBitmapResource(HINSTANCE instance, int id) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return nullptr;
    }
    return DecodeBitmapFile(static_cast<const std::uint8_t*>(data),
                            SizeofResource(instance, found));
}

}  // namespace taktor
