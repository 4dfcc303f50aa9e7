#!/usr/bin/env python3
"""Writes the binary debug-information fixtures of debugdata/ (MAP fixtures are
plain text files written by hand). Run from this folder; the outputs are kept
in the repository."""
import struct

OUT = "debugdata/"


def number(v):
    """A 7-bit number: least significant group first, bit 7 on all but the last byte."""
    out = bytearray()
    while True:
        b = v & 0x7F
        v >>= 7
        if v:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)


def table(rows):
    """Rows of absolute values become running-sum deltas, then the end marker."""
    out, prev = bytearray(), [0] * len(rows[0])
    for row in rows:
        for i, v in enumerate(row):
            out += number((v - prev[i]) & 0xFFFFFFFF)
        prev = list(row)
    return bytes(out) + number(0x7FFFFFFF)


CODES = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_"


def packed(text):
    codes = [CODES.index(c) + 1 for c in text] + [0]
    while len(codes) % 4:
        codes.append(0)
    out = bytearray()
    for i in range(0, len(codes), 4):
        a, b, c, d = codes[i:i + 4]
        out += bytes([a | ((b & 3) << 6), (b >> 2) | ((c & 0xF) << 4), (c >> 4) | (d << 2)])
    return bytes(out)


def scrambled(text, key=0xA5):
    return b"\x01" + bytes(c if c == key else c ^ key for c in text.encode()) + b"\x00"


def jdbg(checksum=True, corrupt_sum=False, endless=False):
    names = bytearray()
    pos = {}

    def add(label, data):
        pos[label] = len(names) + 1
        names.extend(data)

    add("Main", scrambled("Main"))
    add("Other", packed("Other"))
    add("main.pas", scrambled("main.pas"))
    add("other.pas", scrambled("other.pas"))
    add("TForm1", packed("TForm1"))
    add("Button1Click", packed("Button1Click"))
    add("Helper", b"\x02" + packed("Helper"))
    add("Run", packed("Run"))
    units = table([(0x10, pos["Main"]), (0x210, pos["Other"])])
    sources = table([(0x10, pos["main.pas"]), (0x210, pos["other.pas"])])
    # 0x95 - 0x10 = 133: the procedure delta is stored as the bytes 85 01.
    procs = table([(0x10, pos["TForm1"], pos["Button1Click"]), (0x95, pos["Helper"], 0), (0x220, pos["Run"], 0)])
    assert b"\x85\x01" in procs
    lines = table([(0x10, 10), (0x15, 12), (0x30, 20), (0x95, 30), (0xA0, 31), (0x220, 5), (0x230, 7)])
    if endless:
        units = b"\xff" * 12  # numbers that never end before the data does
    body = bytearray()
    offsets = []
    for part in (units, sources, procs, lines, bytes(names)):
        offsets.append(36 + len(body))
        body += part
    data = bytearray(b"JDBG" + bytes([1]) + struct.pack("<5I", *offsets) + b"\0" * 4 + b"\0" * 4 +
                     bytes([1 if checksum else 0]) + b"\0\0")
    assert len(data) == 36
    data += body
    while len(data) % 4:
        data.append(0)
    if checksum:
        s = sum(struct.unpack("<%dI" % (len(data) // 4), bytes(data))) & 0xFFFFFFFF
        if corrupt_sum:
            s ^= 0x100
        data[29:33] = struct.pack("<I", s)
    return bytes(data)


def td32(sig=b"FB0A", entry_size=12, name_count=None):
    names_list = [b"Unit1", b"unit1.pas", b"@Unit1@TForm1@Button1Click$qqrp14System@TObject", b"@Unit1@Helper$qqrv",
                  b"Counter"]
    names = struct.pack("<I", name_count if name_count is not None else len(names_list))
    for n in names_list:
        names += bytes([len(n)]) + n + b"\0"
    module = struct.pack("<4H2I3I", 0, 0, 1, 0, 1, 0, 0, 0, 0) + struct.pack("<2H2I", 1, 0, 0, 0x400)

    def record(rtype, size, fields):
        rec = bytearray(size)
        struct.pack_into("<HH", rec, 0, size - 2, rtype)
        for off, fmt, v in fields:
            struct.pack_into(fmt, rec, off, v)
        return bytes(rec)

    symbols = struct.pack("<I", 1)
    symbols += record(0x202, 20, [(4, "<I", 0x500), (12, "<I", 0x74), (16, "<I", 5)])
    symbols += record(0x205, 44, [(16, "<I", 0x40), (28, "<I", 0x100), (40, "<I", 3)])
    symbols += record(0x204, 44, [(16, "<I", 0x20), (28, "<I", 0x140), (40, "<I", 4)])
    symbols += record(0x999, 8, [])
    # Source module: one file, its record at 8, its line table after it.
    file_rec = struct.pack("<HHI", 1, 0, 2)
    line_at = 8 + len(file_rec) + 4 + 8
    file_rec += struct.pack("<I", line_at) + struct.pack("<2I", 0x100, 0x17F)
    lines = struct.pack("<HH", 1, 3) + struct.pack("<3I", 0x100, 0x108, 0x140) + struct.pack("<3H", 30, 31, 40)
    source = struct.pack("<HHI", 1, 1, 8) + file_rec + lines
    block = bytearray(sig + b"\0\0\0\0")
    entries = []
    for stype, data in ((0x130, names), (0x120, module), (0x125, symbols), (0x127, source)):
        entries.append((stype, len(block), len(data)))
        block += data
    dir_at = len(block)
    block += struct.pack("<HHIII", 16, entry_size, len(entries), 0, 0)
    for stype, off, size in entries:
        block += struct.pack("<HHII", stype, 1, off, size)
    struct.pack_into("<I", block, 4, dir_at)
    block += sig + struct.pack("<I", len(block) + 8)
    return bytes(block)


def write(name, data):
    with open(OUT + name, "wb") as f:
        f.write(data)


write("good.jdbg", jdbg())
write("nosum.jdbg", jdbg(checksum=False))
write("badsum.jdbg", jdbg(corrupt_sum=True))
write("size34.jdbg", jdbg()[:34])
write("unaligned.jdbg", jdbg() + b"\0\0")
write("endless.jdbg", jdbg(checksum=False, endless=True))
write("fb0a.tds", td32())
write("fb09.tds", b"junk before the block" + td32(sig=b"FB09"))
write("entrysize.tds", td32(entry_size=16))
write("names.tds", td32(name_count=0x7FFFFFFF))
