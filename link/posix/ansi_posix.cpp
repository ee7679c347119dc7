// The 8-bit code page of the controller's replies away from Windows: Windows-1251, the code page
// of the Russian Windows the configurator runs on, so that both platforms read a reply alike.
#include "link/reply.h"

namespace taktor {

namespace {

// Windows-1251, bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F. 0x98 is unassigned and
// becomes U+0098, as the Windows conversion does.
constexpr char16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

}  // namespace

Text AnsiBytesToText(const std::uint8_t* bytes, int count) {
    Text text;
    text.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            text.push_back(b);
        } else if (b < 0xC0) {
            text.push_back(kUpperHalf[b - 0x80]);
        } else {
            text.push_back(static_cast<char16_t>(0x0410 + (b - 0xC0)));
        }
    }
    return text;
}

}  // namespace taktor
