#!/usr/bin/env python3
"""Writes codec_fixture.txt and utf8_standard.txt: random UTF-16 strings with the bytes Python's codecs give.

Each line: the UTF-16 units (hex, space-separated), a tab, the UTF-8 bytes, a tab,
the UTF-7 bytes ("-" for strings with a lone surrogate, which only the UTF-8 column
covers). UTF-8 treats every UTF-16 unit as a code point of its own ('surrogatepass'),
so a surrogate pair gives six bytes. Run it from any folder; the output is fixed by
the seed.
"""
import os
import random

SEED = 2152
COUNT = 200

ASCII = [chr(c) for c in range(0x20, 0x7F)] + ['\t', '\r', '\n', '+', '-', '+', '-']
SET_O = list('!"#$%&*;<=>@[]^_`{|}')
CYRILLIC = [chr(c) for c in range(0x0400, 0x0460)]
CJK = [chr(c) for c in range(0x4E00, 0x4E80)] + [chr(c) for c in range(0xAC00, 0xAC20)]
LATIN = [chr(c) for c in range(0x80, 0x180)]


def units_of(text):
    data = text.encode('utf-16-le', 'surrogatepass')
    return [int.from_bytes(data[i:i + 2], 'little') for i in range(0, len(data), 2)]


def random_string(rng, kind):
    pools = {
        'ascii': ASCII + SET_O,
        'cyrillic': CYRILLIC + ASCII[:20],
        'cjk': CJK + [' ', '-', '+'],
        'mixed': ASCII + SET_O + CYRILLIC + CJK + LATIN,
    }
    length = rng.randint(1, 24)
    if kind in pools:
        return ''.join(rng.choice(pools[kind]) for _ in range(length))
    if kind == 'pairs':
        out = []
        for _ in range(length):
            if rng.random() < 0.5:
                out.append(chr(rng.randint(0x10000, 0x10FFFF)))
            else:
                out.append(rng.choice(ASCII + CYRILLIC))
        return ''.join(out)
    # Lone surrogates among other characters.
    out = []
    for _ in range(length):
        r = rng.random()
        if r < 0.3:
            out.append(chr(rng.randint(0xD800, 0xDFFF)))
        else:
            out.append(rng.choice(ASCII + CYRILLIC + CJK))
    return ''.join(out)


def hex_bytes(data):
    return ' '.join('%02X' % b for b in data)


def main():
    rng = random.Random(SEED)
    kinds = ['ascii', 'cyrillic', 'cjk', 'mixed', 'pairs', 'lone']
    lines = []
    for i in range(COUNT):
        kind = kinds[i % len(kinds)]
        text = random_string(rng, kind)
        units = units_of(text)
        utf8 = ''.join(chr(u) for u in units).encode('utf-8', 'surrogatepass')
        utf7 = '-' if kind == 'lone' else hex_bytes(text.encode('utf-7'))
        lines.append('%s\t%s\t%s' % (' '.join('%04X' % u for u in units), hex_bytes(utf8), utf7))
    folder = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, 'codec_fixture.txt'), 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')

    # Standard UTF-8 (four bytes for a character beyond U+FFFF), as other
    # programs write it: the UTF-16 units, a tab, the bytes.
    rng = random.Random(SEED + 1)
    standard = []
    for i in range(COUNT // 2):
        text = random_string(rng, 'pairs' if i % 4 else 'mixed')
        units = units_of(text)
        standard.append('%s\t%s' % (' '.join('%04X' % u for u in units), hex_bytes(text.encode('utf-8'))))
    with open(os.path.join(folder, 'utf8_standard.txt'), 'w', newline='\n') as f:
        f.write('\n'.join(standard) + '\n')


if __name__ == '__main__':
    main()
