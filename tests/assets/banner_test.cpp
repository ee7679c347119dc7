#include "tests/assets/asset_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace taktor {
namespace {

constexpr int kWidth = 698;
constexpr int kHeight = 132;
constexpr int kStride = 2096;
constexpr std::size_t kFileSize = 276726;

const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};
const Rgb kRed{255, 0, 0};
const Rgb kYellow{255, 255, 0};
const Rgb kGreen{0, 255, 0};

struct Span {
    int first, last;                              // inclusive
    int Centre2() const { return first + last; }  // twice the centre, to stay in integers
};

// Columns of the table: the rules on both sides and the inner area between them.
struct Column {
    Span left_rule, right_rule, inner;
};
const std::array<Column, 9> kColumns = {{
    {{7, 8}, {115, 116}, {9, 114}},  // label
    {{119, 120}, {186, 187}, {121, 185}},
    {{190, 191}, {258, 259}, {192, 257}},
    {{262, 263}, {331, 332}, {264, 330}},
    {{335, 336}, {403, 404}, {337, 402}},
    {{407, 408}, {475, 476}, {409, 474}},
    {{479, 480}, {547, 548}, {481, 546}},
    {{551, 552}, {619, 620}, {553, 618}},
    {{623, 624}, {691, 692}, {625, 690}},
}};
// Inner y of the rows: title, header, direction 1, direction 2.
const std::array<Span, 4> kRows = {{{10, 31}, {38, 63}, {70, 92}, {99, 121}}};
const Span kTitleInner{9, 690};
const std::array<const char16_t*, 2> kSignals = {u"КККЖЗЖКК", u"ЗЖКККККЖ"};

Rgb SignalFill(char16_t letter) {
    switch (letter) {
        case u'К':
            return kRed;
        case u'Ж':
            return kYellow;
        default:
            return kGreen;
    }
}

struct Cell {
    Span x, y;
    Rgb fill;
};

// Every cell of the table with its expected fill.
std::vector<Cell> Cells() {
    std::vector<Cell> cells{{kTitleInner, kRows[0], kWhite}};
    for (const Column& c : kColumns) {
        cells.push_back({c.inner, kRows[1], kWhite});
    }
    for (int d = 0; d < 2; ++d) {
        cells.push_back({kColumns[0].inner, kRows[2 + d], kWhite});
        for (int p = 0; p < 8; ++p) {
            cells.push_back({kColumns[1 + p].inner, kRows[2 + d], SignalFill(kSignals[d][p])});
        }
    }
    return cells;
}

bool In(int v, Span s) {
    return v >= s.first && v <= s.last;
}
bool InRect(int x, int y, Span sx, Span sy) {
    return In(x, sx) && In(y, sy);
}
// On a 2-pixel rule drawn directly around the inner area.
bool OnRuleAround(int x, int y, Span sx, Span sy) {
    return InRect(x, y, {sx.first - 2, sx.last + 2}, {sy.first - 2, sy.last + 2}) &&
           !InRect(x, y, sx, sy);
}

class Banner : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = ReadAsset("cycle_banner.bmp");
        ASSERT_EQ(bytes_.size(), kFileSize);
    }
    // Picture coordinates: y downwards from the top row; rows are stored bottom-up.
    Rgb At(int x, int y) const {
        std::size_t at = 54 + static_cast<std::size_t>(kHeight - 1 - y) * kStride + x * 3;
        return Rgb{bytes_[at + 2], bytes_[at + 1], bytes_[at]};
    }
    static bool Dark(const Rgb& c) { return c.r < 128 && c.g < 128 && c.b < 128; }

    struct Box {
        int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
        bool Empty() const { return x1 < 0; }
    };
    Box InkBox(const Cell& cell) const {
        Box box;
        for (int y = cell.y.first; y <= cell.y.last; ++y) {
            for (int x = cell.x.first; x <= cell.x.last; ++x) {
                if (Dark(At(x, y))) {
                    box.x0 = std::min(box.x0, x);
                    box.y0 = std::min(box.y0, y);
                    box.x1 = std::max(box.x1, x);
                    box.y1 = std::max(box.y1, y);
                }
            }
        }
        return box;
    }

    std::vector<std::uint8_t> bytes_;
};

TEST_F(Banner, HeaderIsAPlainBottomUp24BitBitmap) {
    EXPECT_EQ(bytes_[0], 'B');
    EXPECT_EQ(bytes_[1], 'M');
    EXPECT_EQ(Le32(bytes_, 2), kFileSize);
    EXPECT_EQ(Le32(bytes_, 6), 0u);
    EXPECT_EQ(Le32(bytes_, 10), 54u);
    EXPECT_EQ(Le32(bytes_, 14), 40u);
    EXPECT_EQ(Le32(bytes_, 18), 698u);
    EXPECT_EQ(Le32(bytes_, 22), 132u);  // positive: bottom-up
    EXPECT_EQ(Le16(bytes_, 26), 1u);
    EXPECT_EQ(Le16(bytes_, 28), 24u);
    EXPECT_EQ(Le32(bytes_, 30), 0u);
    EXPECT_EQ(Le32(bytes_, 34), 0u);
    EXPECT_EQ(Le32(bytes_, 38), 11811u);
    EXPECT_EQ(Le32(bytes_, 42), 11811u);
    EXPECT_EQ(Le32(bytes_, 46), 0u);
    EXPECT_EQ(Le32(bytes_, 50), 0u);
    EXPECT_EQ(54u + 132u * kStride, kFileSize);
    for (int row = 0; row < kHeight; ++row) {
        std::size_t pad = 54 + static_cast<std::size_t>(row) * kStride + kWidth * 3;
        ASSERT_EQ(bytes_[pad], 0) << "row " << row;
        ASSERT_EQ(bytes_[pad + 1], 0) << "row " << row;
    }
}

// Outside the cells' inner areas the picture holds nothing but the rules on white: every rule
// pixel is black and every gap pixel, including the margin round the frame, is white.
TEST_F(Banner, RulesAndGapsArePixelExact) {
    std::vector<Cell> cells = Cells();
    int rule_pixels = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            bool inner = false;
            bool rule = OnRuleAround(x, y, {5, 694}, {6, 125});  // outer frame
            for (const Cell& c : cells) {
                inner = inner || InRect(x, y, c.x, c.y);
                rule = rule || OnRuleAround(x, y, c.x, c.y);
            }
            if (inner) {
                continue;
            }
            rule_pixels += rule;
            ASSERT_EQ(At(x, y), rule ? kBlack : kWhite) << "at x " << x << ", y " << y;
        }
    }
    // The frame and 28 cells: a cheap check that the expectations above are not empty.
    EXPECT_GT(rule_pixels, 8000);
}

TEST_F(Banner, FrameAndRowRulesLieWhereGiven) {
    for (int x : {3, 4, 695, 696}) {
        EXPECT_EQ(At(x, 60), kBlack) << x;
    }
    for (int y : {4, 5, 126, 127}) {
        EXPECT_EQ(At(300, y), kBlack) << y;
    }
    for (int x : {2, 5, 6, 693, 694, 697}) {
        EXPECT_EQ(At(x, 60), kWhite) << x;
    }
    // Between the rows, inside column Такт 1: rule, rule, gap, gap, rule, rule.
    const int x = 150;
    for (int y : {8, 9, 32, 33, 36, 37, 64, 65, 68, 69, 93, 94, 97, 98, 122, 123}) {
        EXPECT_EQ(At(x, y), kBlack) << y;
    }
    for (int y : {6, 7, 34, 35, 66, 67, 95, 96, 124, 125}) {
        EXPECT_EQ(At(x, y), kWhite) << y;
    }
}

// The edge of each inner area is never touched by text, so it shows the fill all round; and
// most of the area is filled.
TEST_F(Banner, CellsAreFilledByTheirSignal) {
    for (const Cell& c : Cells()) {
        int filled = 0;
        for (int y = c.y.first; y <= c.y.last; ++y) {
            for (int x = c.x.first; x <= c.x.last; ++x) {
                bool edge = y == c.y.first || y == c.y.last || x == c.x.first || x == c.x.last;
                if (edge) {
                    ASSERT_EQ(At(x, y), c.fill) << "cell at x " << c.x.first << ", y " << c.y.first
                                                << ": x " << x << ", y " << y;
                }
                filled += At(x, y) == c.fill;
            }
        }
        int area = (c.x.last - c.x.first + 1) * (c.y.last - c.y.first + 1);
        EXPECT_GT(filled * 10, area * 7) << "cell at x " << c.x.first << ", y " << c.y.first;
    }
    // A few spot checks straight from the signal table.
    EXPECT_EQ(At(125, 75), kRed);     // direction 1, Такт 1
    EXPECT_EQ(At(340, 75), kYellow);  // direction 1, Такт 4
    EXPECT_EQ(At(412, 75), kGreen);   // direction 1, Такт 5
    EXPECT_EQ(At(125, 105), kGreen);  // direction 2, Такт 1
    EXPECT_EQ(At(195, 105), kYellow);
    EXPECT_EQ(At(628, 105), kYellow);  // direction 2, Такт 8
}

TEST_F(Banner, EveryCellHoldsText) {
    for (const Cell& c : Cells()) {
        EXPECT_FALSE(InkBox(c).Empty()) << "cell at x " << c.x.first << ", y " << c.y.first;
    }
}

TEST_F(Banner, TextIsCentredAcross) {
    for (const Cell& c : Cells()) {
        Box box = InkBox(c);
        EXPECT_NEAR(box.x0 + box.x1, c.x.Centre2(), 4)
            << "cell at x " << c.x.first << ", y " << c.y.first;
    }
}

// Each signal letter is centred both ways, and the same letter looks the same in every cell.
TEST_F(Banner, SignalLettersAreCentredAndConsistent) {
    struct Glyph {
        Box box;
        std::vector<bool> ink;
    };
    std::vector<std::pair<char16_t, Glyph>> seen;
    for (int d = 0; d < 2; ++d) {
        for (int p = 0; p < 8; ++p) {
            Cell c{kColumns[1 + p].inner, kRows[2 + d], SignalFill(kSignals[d][p])};
            Box box = InkBox(c);
            ASSERT_FALSE(box.Empty());
            EXPECT_NEAR(box.x0 + box.x1, c.x.Centre2(), 4) << "direction " << d + 1 << ", " << p;
            EXPECT_NEAR(box.y0 + box.y1, c.y.Centre2(), 4) << "direction " << d + 1 << ", " << p;
            EXPECT_LT(box.x1 - box.x0, 20);
            EXPECT_LT(box.y1 - box.y0, 16);
            Glyph g{box, {}};
            for (int y = box.y0; y <= box.y1; ++y) {
                for (int x = box.x0; x <= box.x1; ++x) {
                    g.ink.push_back(Dark(At(x, y)));
                }
            }
            seen.emplace_back(kSignals[d][p], g);
        }
    }
    auto width = [](const Glyph& g) { return g.box.x1 - g.box.x0; };
    for (const auto& [letter, glyph] : seen) {
        for (const auto& [other, other_glyph] : seen) {
            if (letter == other) {
                EXPECT_EQ(glyph.ink, other_glyph.ink);
            } else {
                EXPECT_NE(glyph.ink, other_glyph.ink);
            }
            // Ж is the widest of the three letters.
            if (letter == u'Ж' && other != u'Ж') {
                EXPECT_GT(width(glyph), width(other_glyph));
            }
        }
    }
}

}  // namespace
}  // namespace taktor
