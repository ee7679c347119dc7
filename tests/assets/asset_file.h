// Reading the committed asset files in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace taktor {

inline std::string AssetPath(const std::string& name) {
    return std::string(TAKTOR_ASSETS_DIR) + "/" + name;
}

// The whole file, or nothing when it cannot be read.
inline std::vector<std::uint8_t> ReadAsset(const std::string& name) {
    std::ifstream in(AssetPath(name), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

inline std::uint32_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

}  // namespace taktor
