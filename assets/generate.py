#!/usr/bin/python3
"""Writes the configurator's built-in pictures: cycle_banner.bmp and taktor.ico.

Usage: /usr/bin/python3 assets/generate.py [--out DIR] [--check]

Without --out the files are written next to this script. --check only tests that the
prerequisites (Pillow and the fonts) are there and exits with 0 if they are.

The output is deterministic: the same Pillow and FreeType give the same bytes on every run.
Both files are written byte by byte here; Pillow only rasterises the text of the banner.
"""

import argparse
import math
import os
import struct
import sys

FONT_DIR = "/usr/share/fonts/truetype/liberation2"
FONT_REGULAR = os.path.join(FONT_DIR, "LiberationSerif-Regular.ttf")
FONT_BOLD = os.path.join(FONT_DIR, "LiberationSerif-Bold.ttf")

# ---------------------------------------------------------------------------------------------
# Cycle banner geometry (x to the right, y downwards, all ranges inclusive).

BANNER_WIDTH = 698
BANNER_HEIGHT = 132
RULE = 2  # width of every rule
GAP = 2  # white gap between the frame and the cells and between neighbouring cells

# Outer frame: its rules lie at x 3-4 and 695-696, y 4-5 and 126-127.
FRAME = (3, 4, 696, 127)  # left, top, right, bottom outer edges

# Interior y range of each row's cells.
TITLE_ROW = (10, 31)
HEADER_ROW = (38, 63)
DIRECTION_ROWS = [(70, 92), (99, 121)]

# Interior x range of each column: the label column, then phases 1 to 8.
COLUMNS = [
    (9, 114),
    (121, 185),
    (192, 257),
    (264, 330),
    (337, 402),
    (409, 474),
    (481, 546),
    (553, 618),
    (625, 690),
]

TITLE = "Циклограмма работы светофоров"
HEADERS = ["Направление"] + ["Такт %d" % n for n in range(1, 9)]
DIRECTIONS = [
    ("№ 1", "КККЖЗЖКК"),
    ("№ 2", "ЗЖКККККЖ"),
]
SIGNAL_FILL = {
    "К": (255, 0, 0),
    "Ж": (255, 255, 0),
    "З": (0, 255, 0),
}
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)

TITLE_FONT_SIZE = 18
HEADER_FONT_SIZE = 16
CELL_FONT_SIZE = 16
MARGIN = 1  # text ink keeps at least this many pixels away from its cell's rules


def cell_rules(interior_x, interior_y):
    """The outer edges of a cell's rule, which lies directly around its interior."""
    return (
        interior_x[0] - RULE,
        interior_y[0] - RULE,
        interior_x[1] + RULE,
        interior_y[1] + RULE,
    )


def check_geometry():
    """Checks that the frame, the cells and the gaps between them fit together."""
    left, top, right, bottom = FRAME
    frame_inner = (left + RULE, top + RULE, right - RULE, bottom - RULE)

    def gap(before_end, after_start):
        return after_start - before_end - 1

    # Columns: frame, gap, cell, gap, cell, ..., gap, frame.
    edges = [cell_rules(c, TITLE_ROW) for c in COLUMNS]
    assert gap(frame_inner[0] - 1, edges[0][0]) == GAP
    for a, b in zip(edges, edges[1:]):
        assert gap(a[2], b[0]) == GAP, (a, b)
    assert gap(edges[-1][2], frame_inner[2] + 1) == GAP
    # Rows, likewise.
    rows = [cell_rules(COLUMNS[0], r) for r in [TITLE_ROW, HEADER_ROW] + DIRECTION_ROWS]
    assert gap(frame_inner[1] - 1, rows[0][1]) == GAP
    for a, b in zip(rows, rows[1:]):
        assert gap(a[3], b[1]) == GAP, (a, b)
    assert gap(rows[-1][3], frame_inner[3] + 1) == GAP
    assert 0 <= left and right < BANNER_WIDTH and 0 <= top and bottom < BANNER_HEIGHT


def draw_box(draw, edges):
    """Draws a rectangular rule of width RULE whose outer edges are given."""
    x0, y0, x1, y1 = edges
    for i in range(RULE):
        draw.rectangle((x0 + i, y0 + i, x1 - i, y1 - i), outline=BLACK)


def draw_centred_text(image, interior_x, interior_y, text, font, fill):
    """Fills a cell's interior and writes the text centred in it.

    Horizontally the ink is centred; vertically the band from the baseline to the capital
    height is, so that descenders hang below as in ordinary type. The text is drawn on a copy
    of the interior only, so it can never touch a rule.
    """
    from PIL import Image, ImageDraw

    width = interior_x[1] - interior_x[0] + 1
    height = interior_y[1] - interior_y[0] + 1
    cell = Image.new("RGB", (width, height), fill)
    ink = font.getbbox(text, anchor="ls")
    cap = -font.getbbox("Н", anchor="ls")[1]
    origin_x = round((width - (ink[0] + ink[2])) / 2)
    baseline = round((height + cap) / 2)
    # The whole ink, descenders included, must stay inside the interior with a margin.
    assert origin_x + ink[0] >= MARGIN and origin_x + ink[2] <= width - MARGIN, text
    assert baseline + ink[1] >= MARGIN and baseline + ink[3] <= height - MARGIN, text
    ImageDraw.Draw(cell).text((origin_x, baseline), text, font=font, fill=BLACK, anchor="ls")
    image.paste(cell, (interior_x[0], interior_y[0]))


def make_banner():
    from PIL import Image, ImageDraw, ImageFont

    check_geometry()
    basic = ImageFont.Layout.BASIC
    title_font = ImageFont.truetype(FONT_BOLD, TITLE_FONT_SIZE, layout_engine=basic)
    header_font = ImageFont.truetype(FONT_BOLD, HEADER_FONT_SIZE, layout_engine=basic)
    cell_font = ImageFont.truetype(FONT_REGULAR, CELL_FONT_SIZE, layout_engine=basic)

    image = Image.new("RGB", (BANNER_WIDTH, BANNER_HEIGHT), WHITE)
    draw = ImageDraw.Draw(image)
    draw_box(draw, FRAME)

    title_x = (COLUMNS[0][0], COLUMNS[-1][1])
    draw_box(draw, cell_rules(title_x, TITLE_ROW))
    draw_centred_text(image, title_x, TITLE_ROW, TITLE, title_font, WHITE)

    for column, text in zip(COLUMNS, HEADERS):
        draw_box(draw, cell_rules(column, HEADER_ROW))
        draw_centred_text(image, column, HEADER_ROW, text, header_font, WHITE)

    for row, (label, signals) in zip(DIRECTION_ROWS, DIRECTIONS):
        assert len(signals) == len(COLUMNS) - 1
        draw_box(draw, cell_rules(COLUMNS[0], row))
        draw_centred_text(image, COLUMNS[0], row, label, cell_font, WHITE)
        for column, letter in zip(COLUMNS[1:], signals):
            draw_box(draw, cell_rules(column, row))
            draw_centred_text(image, column, row, letter, cell_font, SIGNAL_FILL[letter])
    return image


def bmp_bytes(image):
    """A 24-bit bottom-up Windows bitmap file of the image."""
    width, height = image.size
    stride = (width * 3 + 3) // 4 * 4
    padding = bytes(stride - width * 3)
    bgr = image.tobytes("raw", "BGR")
    rows = [bgr[y * width * 3 : (y + 1) * width * 3] + padding for y in range(height)]
    pixels = b"".join(reversed(rows))
    info = struct.pack(
        "<IiiHHIIiiII",
        40,  # header size
        width,
        height,  # positive: bottom-up
        1,  # planes
        24,  # bits per pixel
        0,  # no compression
        0,  # image size (may be 0 when uncompressed)
        11811,  # 300 pixels per inch, both ways
        11811,
        0,  # colours used
        0,  # important colours
    )
    offset = 14 + len(info)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return header + info + pixels


# ---------------------------------------------------------------------------------------------
# Program icon: a grey chip with pins on two sides, turned by 45 degrees.

ICON_SIZE = 24
ICON_SUBSAMPLES = 8  # per pixel side
BODY_HALF = (5.0, 7.0)  # half width and half height of the chip body, in icon pixels
BODY_EDGE = 1.0  # width of the body's dark border
PIN_COUNT = 3  # per side
PIN_LENGTH = 3.0
PIN_WIDTH = 2.0
DOT_RADIUS = 1.2  # the pin-1 mark
BODY_GREY = (128, 128, 128)
EDGE_GREY = (64, 64, 64)
PIN_GREY = (176, 176, 176)


def chip_colour(u, v):
    """The chip's colour at local point (u, v), centre at 0, 0; None outside the chip."""
    hw, hh = BODY_HALF
    if abs(u) <= hw and abs(v) <= hh:
        if abs(u) > hw - BODY_EDGE or abs(v) > hh - BODY_EDGE:
            return EDGE_GREY
        # A dot near one corner marks pin 1, as on a real package.
        if (u + hw - 2.5) ** 2 + (v + hh - 2.5) ** 2 <= DOT_RADIUS**2:
            return EDGE_GREY
        return BODY_GREY
    if hw < abs(u) <= hw + PIN_LENGTH:
        pitch = 2 * hh / PIN_COUNT
        for i in range(PIN_COUNT):
            centre = -hh + pitch * (i + 0.5)
            if abs(v - centre) <= PIN_WIDTH / 2:
                return PIN_GREY
    return None


def make_icon_pixels():
    """Rows of (colour, opaque) for the icon, top row first."""
    c = s = math.sqrt(0.5)  # cos and sin of 45 degrees
    centre = ICON_SIZE / 2
    n = ICON_SUBSAMPLES
    rows = []
    for y in range(ICON_SIZE):
        row = []
        for x in range(ICON_SIZE):
            inside = []
            for j in range(n):
                for i in range(n):
                    px = x + (i + 0.5) / n - centre
                    py = y + (j + 0.5) / n - centre
                    # Turn the screen point back into the chip's own axes.
                    colour = chip_colour(px * c + py * s, -px * s + py * c)
                    if colour is not None:
                        inside.append(colour)
            # The mask has one bit: a pixel is opaque when the chip covers at least half of it,
            # and then takes the average colour of the parts it covers.
            if 2 * len(inside) >= n * n:
                count = len(inside)
                colour = tuple((sum(p[k] for p in inside) + count // 2) // count for k in range(3))
                row.append((colour, True))
            else:
                row.append(((0, 0, 0), False))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """An icon file with one 24 x 24, 24-bit image and its 1-bit mask."""
    size = len(rows)
    xor_stride = (size * 3 + 3) // 4 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for (r, g, b), _ in row:
            line += bytes((b, g, r))
        xor += line + bytes(xor_stride - len(line))
        bits = bytearray(and_stride)
        for x, (_, opaque) in enumerate(row):
            if not opaque:  # a set bit leaves the screen as it is
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack(
        "<IiiHHIIiiII",
        40,
        size,
        size * 2,  # the colour image and the mask, one above the other
        1,
        24,
        0,
        len(xor) + len(mask),
        0,
        0,
        0,
        0,
    )
    image = info + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


# ---------------------------------------------------------------------------------------------


def check_prerequisites():
    try:
        import PIL.ImageFont  # noqa: F401
    except ImportError:
        return "Pillow is missing (Debian package python3-pil)"
    for path in (FONT_REGULAR, FONT_BOLD):
        if not os.path.isfile(path):
            return "font %s is missing (Debian package fonts-liberation2)" % path
    return None


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()

    problem = check_prerequisites()
    if problem:
        print("generate.py: " + problem, file=sys.stderr)
        return 1
    if args.check:
        return 0

    os.makedirs(args.out, exist_ok=True)
    write(os.path.join(args.out, "cycle_banner.bmp"), bmp_bytes(make_banner()))
    write(os.path.join(args.out, "taktor.ico"), ico_bytes(make_icon_pixels()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
