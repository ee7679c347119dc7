#include "tests/assets/asset_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace taktor {
namespace {

constexpr int kSize = 24;
constexpr std::size_t kXorStride = 72;  // 24 pixels of 3 bytes, already a multiple of 4
constexpr std::size_t kAndStride = 4;   // 24 bits padded to 4 bytes

class Icon : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = ReadAsset("taktor.ico");
        ASSERT_GE(bytes_.size(), 6u + 16u + 40u);
        // ICONDIR: reserved, type 1 (icon), one image.
        ASSERT_EQ(Le16(bytes_, 0), 0u);
        ASSERT_EQ(Le16(bytes_, 2), 1u);
        ASSERT_EQ(Le16(bytes_, 4), 1u);
        image_ = Le32(bytes_, 18);
        ASSERT_EQ(image_ + Le32(bytes_, 14), bytes_.size());
        ASSERT_EQ(Le32(bytes_, 14), 40u + kSize * kXorStride + kSize * kAndStride);
    }
    std::size_t Row(int y) const { return static_cast<std::size_t>(kSize - 1 - y); }
    Rgb At(int x, int y) const {
        std::size_t at = image_ + 40 + Row(y) * kXorStride + x * 3;
        return Rgb{bytes_[at + 2], bytes_[at + 1], bytes_[at]};
    }
    bool Transparent(int x, int y) const {
        std::size_t at = image_ + 40 + kSize * kXorStride + Row(y) * kAndStride + x / 8;
        return (bytes_[at] & (0x80 >> (x % 8))) != 0;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t image_ = 0;
};

TEST_F(Icon, OneImageOf24By24With24BitsAndAMask) {
    // ICONDIRENTRY
    EXPECT_EQ(bytes_[6], kSize);
    EXPECT_EQ(bytes_[7], kSize);
    EXPECT_EQ(bytes_[8], 0);  // no palette
    EXPECT_EQ(Le16(bytes_, 10), 1u);
    EXPECT_EQ(Le16(bytes_, 12), 24u);
    EXPECT_EQ(image_, 22u);
    // BITMAPINFOHEADER: the height counts the colour image and the mask.
    EXPECT_EQ(Le32(bytes_, image_), 40u);
    EXPECT_EQ(Le32(bytes_, image_ + 4), 24u);
    EXPECT_EQ(Le32(bytes_, image_ + 8), 48u);
    EXPECT_EQ(Le16(bytes_, image_ + 12), 1u);
    EXPECT_EQ(Le16(bytes_, image_ + 14), 24u);
    EXPECT_EQ(Le32(bytes_, image_ + 16), 0u);
    EXPECT_EQ(Le32(bytes_, image_ + 32), 0u);  // no colour table follows
}

TEST_F(Icon, CornersAreTransparentAndTheMiddleIsOpaqueGrey) {
    for (int y : {0, 1, 22, 23}) {
        for (int x : {0, 1, 22, 23}) {
            EXPECT_TRUE(Transparent(x, y)) << x << ", " << y;
        }
    }
    for (int y = 10; y <= 13; ++y) {
        for (int x = 10; x <= 13; ++x) {
            ASSERT_FALSE(Transparent(x, y)) << x << ", " << y;
            Rgb c = At(x, y);
            EXPECT_EQ(c.r, c.g);
            EXPECT_EQ(c.g, c.b);
            EXPECT_GT(c.r, 48);
            EXPECT_LT(c.r, 208);
        }
    }
}

// Transparent pixels are black in the colour image, so that they leave the screen unchanged
// rather than inverting it; opaque ones are all shades of grey.
TEST_F(Icon, TransparentPixelsAreBlackAndTheChipIsGrey) {
    int opaque = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            Rgb c = At(x, y);
            if (Transparent(x, y)) {
                EXPECT_EQ(c, (Rgb{0, 0, 0})) << x << ", " << y;
            } else {
                ++opaque;
                EXPECT_TRUE(c.r == c.g && c.g == c.b) << c << " at " << x << ", " << y;
            }
        }
    }
    EXPECT_GT(opaque, kSize * kSize / 4);
    EXPECT_LT(opaque, kSize * kSize * 3 / 4);
}

// A chip turned by 45 degrees leaves the corners of its own bounding box empty, where an upright
// one would fill them.
TEST_F(Icon, ChipStandsDiagonally) {
    int x0 = kSize, y0 = kSize, x1 = -1, y1 = -1;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            if (!Transparent(x, y)) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
        }
    }
    ASSERT_GE(x1 - x0, 12);
    ASSERT_GE(y1 - y0, 12);
    for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3 - dy; ++dx) {
            EXPECT_TRUE(Transparent(x0 + dx, y0 + dy));
            EXPECT_TRUE(Transparent(x1 - dx, y0 + dy));
            EXPECT_TRUE(Transparent(x0 + dx, y1 - dy));
            EXPECT_TRUE(Transparent(x1 - dx, y1 - dy));
        }
    }
}

}  // namespace
}  // namespace taktor
