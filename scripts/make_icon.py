#!/usr/bin/python3
"""Writes res/dunmarrow.ico from the pixel map res/icon.txt.

The map is 32 lines of 32 characters: a hex digit is an index into the 16-colour palette below,
'.' is transparent. The icon holds one 32x32 image at 4 bits per pixel.
Usage: make_icon.py [--check] [MAP [ICO]]
With --check, writes nothing and fails if ICO is not what MAP makes.
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
SIZE = 32


def read_map(path):
    rows = Path(path).read_text().splitlines()
    if len(rows) != SIZE or any(len(row) != SIZE for row in rows):
        sys.exit(f"{path}: expected {SIZE} lines of {SIZE} characters")
    for row in rows:
        for ch in row:
            if ch != "." and ch not in "0123456789ABCDEF":
                sys.exit(f"{path}: unexpected character {ch!r}")
    return rows


def icon_bytes(rows):
    # Bitmaps are stored bottom row first.
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        indices = [0 if ch == "." else int(ch, 16) for ch in row]
        colour += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, SIZE, 2))
        bits = "".join("1" if ch == "." else "0" for ch in row)
        mask += int(bits, 2).to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    image = header + palette + bytes(colour) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    root = Path(__file__).resolve().parent.parent
    args = sys.argv[1:]
    check = bool(args) and args[0] == "--check"
    args = args[1:] if check else args
    source = args[0] if len(args) > 0 else root / "res" / "icon.txt"
    target = Path(args[1] if len(args) > 1 else root / "res" / "dunmarrow.ico")
    icon = icon_bytes(read_map(source))
    if not check:
        target.write_bytes(icon)
    elif not target.exists() or target.read_bytes() != icon:
        sys.exit(f"{target} is not what {source} makes: run scripts/make_icon.py")


if __name__ == "__main__":
    main()
