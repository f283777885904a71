#!/usr/bin/env python3
"""Draw the Trackpost panel image from skin_trackpost.xml.

Every control's place, size and label comes from the XML, so moving a control
there and re-running this script moves it in the picture.

Usage: python3 draw_skin.py [output.png]
"""

import os
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SKIN_XML = os.path.join(HERE, "skin_trackpost.xml")

# Palette (RGB).
BG = (30, 36, 48)
BORDER = (62, 72, 92)
HEADER = (22, 27, 37)
HEADER_LINE = (52, 62, 80)
ACCENT = (72, 190, 230)
TITLE = (236, 240, 246)
BTN_FILL = (52, 63, 84)
BTN_EDGE = (104, 120, 150)
BTN_TEXT = (255, 255, 255)
LED_OFF = (40, 70, 48)
LED_EDGE = (90, 150, 100)
FIELD_FILL = (15, 18, 25)
FIELD_EDGE = (58, 68, 88)
FIELD_TEXT = (110, 122, 145)

# Compact 5x7 font: each glyph is 7 rows of 5 bits, leftmost pixel = 0x10.
FONT = {
    "A": (0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11),
    "B": (0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E),
    "C": (0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E),
    "D": (0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E),
    "E": (0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F),
    "F": (0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10),
    "G": (0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F),
    "H": (0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11),
    "I": (0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E),
    "J": (0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C),
    "K": (0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11),
    "L": (0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F),
    "M": (0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11),
    "N": (0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11),
    "O": (0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E),
    "P": (0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10),
    "Q": (0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D),
    "R": (0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11),
    "S": (0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E),
    "T": (0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04),
    "U": (0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E),
    "V": (0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04),
    "W": (0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A),
    "X": (0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11),
    "Y": (0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04),
    "Z": (0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F),
    "0": (0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E),
    "1": (0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E),
    "2": (0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F),
    "3": (0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E),
    "4": (0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02),
    "5": (0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E),
    "6": (0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E),
    "7": (0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08),
    "8": (0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E),
    "9": (0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C),
    " ": (0, 0, 0, 0, 0, 0, 0),
    "-": (0, 0, 0, 0x1F, 0, 0, 0),
}
GLYPH_W, GLYPH_H, GLYPH_GAP = 5, 7, 1


class Canvas:
    """A plain RGB pixel buffer; drawing outside it is silently clipped."""

    def __init__(self, width, height, colour):
        self.w, self.h = width, height
        self.px = [list(colour) * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][3 * x:3 * x + 3] = colour

    def fill(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.put(xx, yy, colour)

    def outline(self, x, y, w, h, colour):
        self.fill(x, y, w, 1, colour)
        self.fill(x, y + h - 1, w, 1, colour)
        self.fill(x, y, 1, h, colour)
        self.fill(x + w - 1, y, 1, h, colour)

    def rounded_box(self, x, y, w, h, fill, edge, behind):
        """Filled box with a 1-px edge; corner pixels take the colour behind
        and the edge steps inwards diagonally, which reads as a soft round."""
        self.fill(x, y, w, h, fill)
        self.outline(x, y, w, h, edge)
        for cx, cy, dx, dy in ((x, y, 1, 1), (x + w - 1, y, -1, 1),
                               (x, y + h - 1, 1, -1), (x + w - 1, y + h - 1, -1, -1)):
            self.put(cx, cy, behind)
            self.put(cx + dx, cy + dy, edge)

    def to_png(self):
        # Filter byte 0 (none) per row; zlib does the real compression.
        raw = b"".join(b"\x00" + bytes(row) for row in self.px)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0)  # 8-bit RGB
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def text_width(text, scale=1):
    return len(text) * (GLYPH_W + GLYPH_GAP) * scale - GLYPH_GAP * scale if text else 0


def draw_text(canvas, x, y, text, colour, scale=1):
    for ch in text.upper():
        rows = FONT.get(ch, FONT["-"])  # an unknown character still shows up as a mark
        for ry, bits in enumerate(rows):
            for rx in range(GLYPH_W):
                if bits & (0x10 >> rx):
                    canvas.fill(x + rx * scale, y + ry * scale, scale, scale, colour)
        x += (GLYPH_W + GLYPH_GAP) * scale


def draw_centred(canvas, x, y, w, h, text, colour):
    draw_text(canvas, x + (w - text_width(text)) // 2, y + (h - GLYPH_H) // 2, text, colour)


def draw_note(canvas, x, y, colour):
    """A small beamed pair of eighth notes, 11x12 pixels."""
    canvas.fill(x + 3, y, 8, 2, colour)           # beam
    canvas.fill(x + 3, y, 1, 10, colour)          # stems
    canvas.fill(x + 10, y, 1, 8, colour)
    canvas.fill(x, y + 9, 4, 3, colour)           # heads
    canvas.fill(x + 7, y + 7, 4, 3, colour)


def geometry(el):
    return tuple(int(el.get(k)) for k in ("x", "y", "width", "height"))


def draw_frame(canvas):
    header_h = 36
    canvas.fill(0, 0, canvas.w, header_h, HEADER)
    canvas.fill(0, header_h, canvas.w, 1, HEADER_LINE)
    # Accent bar at the left of the header, then the note and the title.
    canvas.fill(1, 1, 3, header_h - 1, ACCENT)
    draw_note(canvas, 14, (header_h - 12) // 2, ACCENT)
    title_y = (header_h - GLYPH_H * 2) // 2
    draw_text(canvas, 34, title_y, "TRACKPOST", TITLE, scale=2)
    canvas.outline(0, 0, canvas.w, canvas.h, BORDER)


def draw_button(canvas, el):
    x, y, w, h = geometry(el)
    canvas.rounded_box(x, y, w, h, BTN_FILL, BTN_EDGE, BG)
    draw_centred(canvas, x, y, w, h, el.get("short", ""), BTN_TEXT)


def draw_switch(canvas, el):
    x, y, w, h = geometry(el)
    canvas.rounded_box(x, y, w, h, BTN_FILL, BTN_EDGE, BG)
    # LED at the left, drawn off: the host lights it when the switch is on.
    led = 6
    lx, ly = x + 6, y + (h - led) // 2
    canvas.fill(lx, ly, led, led, LED_OFF)
    canvas.outline(lx, ly, led, led, LED_EDGE)
    # Centre the label in the space right of the LED.
    rest = lx + led
    draw_centred(canvas, rest, y, x + w - rest, h, el.get("short", ""), BTN_TEXT)


def draw_text_field(canvas, el):
    x, y, w, h = geometry(el)
    canvas.fill(x, y, w, h, FIELD_FILL)
    canvas.outline(x, y, w, h, FIELD_EDGE)
    # Darker top edge so the field looks sunk into the panel.
    canvas.fill(x + 1, y + 1, w - 2, 1, (8, 10, 14))
    label = el.get("short", "")
    draw_text(canvas, x + 5, y + (h - GLYPH_H) // 2, label, FIELD_TEXT)
    # A thin divider marks where the host's own text may start.
    dx = x + 5 + text_width(label) + 5
    canvas.fill(dx, y + 4, 1, h - 8, FIELD_EDGE)


DRAWERS = {"button": draw_button, "switch": draw_switch, "text": draw_text_field}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "skin_trackpost.png")
    root = ET.parse(SKIN_XML).getroot()
    canvas = Canvas(int(root.get("width", 320)), int(root.get("height", 180)), BG)
    draw_frame(canvas)
    for el in root:
        drawer = DRAWERS.get(el.tag)  # <kept> and anything else stays invisible
        if drawer:
            drawer(canvas, el)
    with open(out, "wb") as f:
        f.write(canvas.to_png())


if __name__ == "__main__":
    main()
