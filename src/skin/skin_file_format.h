#pragma once

/* The skin file, as assets/make_skin.py writes it and the skin library reads
   it. Little-endian throughout.

     offset  size  field
          0     6  magic "QHSKIN"
          6     2  format version, 1
          8     4  length of the whole file in bytes
         12     4  CRC-32 (the zip/PNG polynomial) of every byte from offset 16 on
         16     2  number of colour entries, one per role
         18     2  size of one entry, 8
         20    28  the skin's name, UTF-8, padded with zero bytes
         48     -  the entries: role, kind, red, green, blue, three zero bytes

   Every role of SkinRole appears exactly once; nothing follows the entries. */

enum {
    kSkinMagicSize = 6,
    kSkinFormatVersion = 1,
    kSkinHeaderSize = 48,
    kSkinChecksumStart = 16,
    kSkinNameOffset = 20,
    kSkinNameSize = 28,
    kSkinEntrySize = 8
};

#define SKIN_MAGIC "QHSKIN"

/* How an entry follows the hue and brightness shift. */
enum SkinColourKind {
    kSkinKeepsColour = 0,   /* never shifts: white on the highlight stays white */
    kSkinSurface = 1,       /* turns with the hue and lightens or darkens */
    kSkinInk = 2            /* turns with the hue, keeps its lightness so text stays legible */
};
