#!/usr/bin/env python3
"""Writes the table of pinyin initials from Unihan's readings.

Usage: make_pinyin_initials.py Unihan_Readings.txt[.bz2] out.cpp

Every Mandarin reading a character has counts: kMandarin, and the readings
of the modern dictionaries Unihan cites (kHanyuPinlu, kXHC1983, kTGHZ2013),
so a character read two ways is found by either first letter. Only the first
letter of each reading is kept, as a bit a..z.
"""

import bz2
import re
import sys
import unicodedata

READING_FIELDS = {"kMandarin", "kHanyuPinlu", "kXHC1983", "kTGHZ2013"}
# A reading inside a field: letters with tone marks, after a "page.position:"
# reference (kXHC1983, kTGHZ2013) or before a "(count)" (kHanyuPinlu).
SYLLABLE = re.compile(r"(?:^|[\s:,])([^\s:,()0-9.]+)")


def first_letter(syllable):
    base = unicodedata.normalize("NFD", syllable)[0].lower()
    return base if "a" <= base <= "z" else None


def read_initials(path):
    opener = bz2.open if path.endswith(".bz2") else open
    initials = {}
    with opener(path, "rt", encoding="utf-8") as source:
        for line in source:
            if not line.startswith("U+"):
                continue
            code, field, value = line.rstrip("\n").split("\t", 2)
            if field not in READING_FIELDS:
                continue
            for syllable in SYLLABLE.findall(value):
                letter = first_letter(syllable)
                if letter is not None:
                    point = int(code[2:], 16)
                    initials[point] = initials.get(point, 0) | (1 << (ord(letter) - ord("a")))
    return initials


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_pinyin_initials.py Unihan_Readings.txt[.bz2] out.cpp")
    initials = read_initials(sys.argv[1])
    if not initials:
        sys.exit("no Mandarin readings in " + sys.argv[1])
    rows = ",\n".join("    {0x%X, 0x%X}" % (point, initials[point]) for point in sorted(initials))
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write("// Made from Unihan's Mandarin readings by make_pinyin_initials.py at build time.\n")
        out.write('#include "pinyin_initials_table.h"\n\n')
        out.write("namespace qinghe {\n\n")
        out.write("const PinyinInitialsRow kPinyinInitialsTable[] = {\n%s,\n};\n" % rows)
        out.write("const std::size_t kPinyinInitialsTableSize = %d;\n\n" % len(initials))
        out.write("}  // namespace qinghe\n")


if __name__ == "__main__":
    main()
