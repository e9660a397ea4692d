#!/usr/bin/env python3
"""Writes the program's skin, assets/skin/qinghe.skin: "青禾清茶", pale celadon
surfaces, dark green-black ink and a jade highlight, calm enough to sit under
the board all day and dark enough in its text to read at 9 points.

The file format is the skin library's own (see src/skin/skin_file_format.h):
a 48-byte header, then one 8-byte entry per colour role. Standard library
only; the same bytes on every run. Run `python3 assets/make_skin.py`.
"""

import os
import struct
import zlib

MAGIC = b"QHSKIN"
FORMAT_VERSION = 1
HEADER_SIZE = 48
CHECKSUM_START = 16
NAME_SIZE = 28
ENTRY_SIZE = 8

# How an entry follows the hue and brightness shift (SkinColourKind).
KEEPS = 0    # never shifts
SURFACE = 1  # turns with the hue, lightens or darkens
INK = 2      # turns with the hue, keeps its lightness

# In the order of SkinRole in src/skin/skin_abi.h.
ROLES = [
    ("window", SURFACE, 0xEEF2EC),
    ("windowText", INK, 0x1E2B24),
    ("base", SURFACE, 0xFAFBF8),
    ("alternateBase", SURFACE, 0xF0F4EE),
    ("toolTipBase", SURFACE, 0xF7F5E6),
    ("toolTipText", INK, 0x2A2A22),
    ("placeholderText", INK, 0x7D8A82),
    ("text", INK, 0x1B2620),
    ("button", SURFACE, 0xE1EADF),
    ("buttonText", INK, 0x1E2B24),
    ("brightText", KEEPS, 0xFFFFFF),
    ("light", SURFACE, 0xFBFDFA),
    ("midlight", SURFACE, 0xEDF2EB),
    ("mid", SURFACE, 0xB4C2B6),
    ("dark", SURFACE, 0x8D9E91),
    ("shadow", SURFACE, 0x5D6B61),
    ("highlight", SURFACE, 0x4A8570),
    ("highlightedText", KEEPS, 0xFFFFFF),
    ("link", INK, 0x2D6A8A),
    ("linkVisited", INK, 0x6A4C8A),
    ("disabledText", INK, 0x9AA69E),
    ("disabledButton", SURFACE, 0xE6EBE4),
]

NAME = "青禾清茶"


def skin_bytes():
    entries = b"".join(
        struct.pack("<BBBBB3x", role, kind, colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF)
        for role, (_, kind, colour) in enumerate(ROLES)
    )
    name = NAME.encode("utf-8")
    assert len(name) < NAME_SIZE, "the name must end inside its field"
    length = HEADER_SIZE + len(entries)
    body = struct.pack("<HH", len(ROLES), ENTRY_SIZE) + name.ljust(NAME_SIZE, b"\0") + entries
    checksum = zlib.crc32(body) & 0xFFFFFFFF
    data = MAGIC + struct.pack("<HII", FORMAT_VERSION, length, checksum) + body
    assert len(data) == length and len(data) - len(entries) == HEADER_SIZE
    assert CHECKSUM_START == len(data) - len(body)
    return data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "skin", "qinghe.skin")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as out:
        out.write(skin_bytes())


if __name__ == "__main__":
    main()
