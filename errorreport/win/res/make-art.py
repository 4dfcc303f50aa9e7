#!/usr/bin/env python3
"""Draws the report dialogs' pictures as 24-bit BMP files in this folder.

Magenta (255, 0, 255) fills the corners: the dialogs draw every picture with
its top-left pixel's colour as the transparent one.
"""
import math
import os
import struct

KEY = (255, 0, 255)


def save(name, w, h, pixel):
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), name + ".bmp"), "wb") as f:
        f.write(header + info + data)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def error(x, y):  # a red disc with a white cross
    cx = cy = 15.5
    d = math.hypot(x - cx, y - cy)
    if d > 15:
        return KEY
    if d > 14:
        return (150, 20, 20)
    u, v = x - cx, y - cy
    if abs(abs(u) - abs(v)) < 1.8 and abs(u) < 8:
        return (255, 255, 255)
    return mix((235, 70, 60), (180, 25, 25), (y / 31))


def send(x, y):  # an envelope with a green arrow
    if 2 <= x <= 25 and 8 <= y <= 25:
        if x in (2, 25) or y in (8, 25):
            return (70, 80, 110)
        if abs((y - 8) - abs(x - 13.5) * 0.7) < 0.8 and y < 18:
            return (70, 80, 110)
        return (250, 248, 235)
    if 20 <= x <= 31 and 0 <= y <= 11:
        if 24 <= x <= 27 and y >= 4:
            return (40, 150, 60)
        if y < 6 and abs(x - 25.5) <= y + 0.5:
            return (40, 150, 60)
    return KEY


def sheet(colour, mark):  # a page with a coloured band and a mark
    def pixel(x, y):
        if not (2 <= x <= 13 and 1 <= y <= 14):
            return KEY
        if x in (2, 13) or y in (1, 14):
            return (90, 90, 90)
        if 3 <= y <= 5:
            return colour
        if mark(x, y):
            return (40, 40, 40)
        return (255, 255, 255)
    return pixel


def sign(plus):
    def pixel(x, y):
        if not (1 <= x <= 11 and 1 <= y <= 11):
            return KEY
        if x in (1, 11) or y in (1, 11):
            return (120, 130, 150)
        if y == 6 and 3 <= x <= 9:
            return (0, 0, 0)
        if plus and x == 6 and 3 <= y <= 9:
            return (0, 0, 0)
        return (255, 255, 255)
    return pixel


save("VL_Error", 32, 32, error)
save("VL_Send", 32, 32, send)
save("VL_DLL", 16, 16, sheet((60, 120, 200), lambda x, y: y in (8, 10, 12) and 4 <= x <= 11))
save("VL_BPL", 16, 16, sheet((200, 140, 40), lambda x, y: 5 <= x <= 10 and 8 <= y <= 12 and (x + y) % 2 == 0))
save("VL_VCL", 16, 16, sheet((60, 160, 80), lambda x, y: y == 8 and 4 <= x <= 11 or x == 4 and 8 <= y <= 12))
save("VL_PAS", 16, 16, sheet((150, 70, 170), lambda x, y: y in (8, 10, 12) and 4 <= x <= (11 if y != 10 else 8)))
save("VL_PLUS", 13, 13, sign(True))
save("VL_MINUS", 13, 13, sign(False))
