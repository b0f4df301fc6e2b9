#!/usr/bin/env python3
"""Draws Varnholt's own pictures (the about window's two images and the
icons) and stores them as 24-bit BMP files beside this script.

Run it again after changing a drawing; the build embeds the BMP files."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# 5x7 block letters for the few words the pictures carry.
GLYPHS = {
    'V': ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'H': ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'I': ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    'F': ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'Y': ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    ' ': ["00000"] * 7,
}


class Image:
    def __init__(self, width, height, colour):
        self.width = width
        self.height = height
        self.pixels = [list(colour) for _ in range(width * height)]

    def put(self, x, y, colour, alpha=1.0):
        if 0 <= x < self.width and 0 <= y < self.height:
            p = self.pixels[y * self.width + x]
            for i in range(3):
                p[i] = int(p[i] * (1 - alpha) + colour[i] * alpha)

    def gradient(self, top, bottom):
        for y in range(self.height):
            t = y / max(1, self.height - 1)
            c = [int(top[i] * (1 - t) + bottom[i] * t) for i in range(3)]
            for x in range(self.width):
                self.pixels[y * self.width + x] = list(c)

    def disc(self, cx, cy, r, colour, alpha=1.0):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                d = math.hypot(x - cx, y - cy)
                if d <= r:
                    self.put(x, y, colour, alpha * min(1.0, r - d + 0.5))

    def ring(self, cx, cy, r, width, colour):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                d = abs(math.hypot(x - cx, y - cy) - r)
                if d <= width / 2:
                    self.put(x, y, colour, min(1.0, width / 2 - d + 0.5))

    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour, alpha)

    def text(self, x, y, words, scale, colour):
        for ch in words:
            rows = GLYPHS[ch]
            for gy, row in enumerate(rows):
                for gx, bit in enumerate(row):
                    if bit == '1':
                        self.rect(x + gx * scale, y + gy * scale,
                                  x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
            x += 6 * scale

    def save_bmp(self, name):
        row = (self.width * 3 + 3) // 4 * 4
        data = bytearray()
        for y in range(self.height - 1, -1, -1):  # bottom-up rows
            line = bytearray()
            for x in range(self.width):
                r, g, b = self.pixels[y * self.width + x]
                line += bytes((b, g, r))
            line += b'\0' * (row - len(line))
            data += line
        header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
        info = struct.pack('<IiiHHIIiiII', 40, self.width, self.height, 1, 24, 0,
                           len(data), 2835, 2835, 0, 0)
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(header + info + data)


def draw_mark(img, cx, cy, r):
    """The program's mark: stacked version rings around a filled core."""
    img.disc(cx, cy, r, (28, 44, 64))
    for i, colour in enumerate(((90, 170, 220), (120, 200, 160), (230, 190, 90))):
        img.ring(cx, cy, r * (0.86 - i * 0.2), max(1.5, r * 0.09), colour)
    img.disc(cx, cy, r * 0.22, (240, 240, 235))


def about_intro():
    # Odd width: rows need padding, which the loader must honour.
    img = Image(481, 452, (0, 0, 0))
    img.gradient((22, 30, 46), (58, 84, 112))
    for i in range(14):
        img.disc(40 + i * 33, 400 - (i * 37) % 90, 6 + i % 4, (255, 255, 255), 0.08)
    draw_mark(img, 240, 170, 110)
    img.text(240 - 6 * 4 * 8 // 2, 320, "VARNHOLT", 4, (235, 235, 230))
    img.text(240 - 6 * 2 * 17 // 2, 370, "FILE VERSION SAFE", 2, (150, 190, 220))
    img.save_bmp("about_intro.bmp")


def about_info():
    img = Image(425, 192, (0, 0, 0))
    img.gradient((40, 48, 60), (24, 28, 36))
    draw_mark(img, 70, 96, 56)
    img.text(150, 60, "VARNHOLT", 4, (235, 235, 230))
    img.text(150, 110, "ARCHIVE  RESTORE", 2, (150, 190, 220))
    img.rect(150, 140, 400, 143, (230, 190, 90))
    img.save_bmp("about_info.bmp")


def icon(size, name):
    img = Image(size, size, (0, 0, 0))
    draw_mark(img, (size - 1) / 2, (size - 1) / 2, size / 2 - 0.5)
    img.save_bmp(name)


if __name__ == '__main__':
    about_intro()
    about_info()
    icon(64, "app_icon.bmp")
    icon(32, "tray_icon.bmp")
