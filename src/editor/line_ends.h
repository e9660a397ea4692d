#pragma once

// How a GBK document stands in the edit box. The box keeps one kind of line
// break of its own, so the document's usual line end (the kind of its first
// line break) becomes a plain break there, and every other line end shows as
// marker characters for its bytes followed by a plain break. Going back gives
// the same bytes, so a document opened and saved unchanged stays byte for byte
// what it was, mixed line ends and bytes that are not GBK included.

#include "text/text.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <string_view>

namespace qinghe {

enum class LineEnd { CrLf, Lf, Cr };

// Stand for a lone CR or LF byte in the box; the byte escapes of the GBK
// conversion never use byte values below 0x80, so no text decodes to them.
inline constexpr char16_t kCrMarker = 0xF70D;
inline constexpr char16_t kLfMarker = 0xF70A;

int lineEndBytes(LineEnd lineEnd);
// The kind of the first line break in bytes, or fallback when there is none.
LineEnd firstLineEnd(std::string_view bytes, LineEnd fallback);

// The text for the box; line breaks come out as '\n'.
QString toEditText(std::string_view bytes, LineEnd lineEnd);
// The bytes of a stretch of the box's text, its breaks as U+2029 (or '\n').
// before is the box character in front of the stretch, which tells whether a
// break at its start follows markers.
Text fromEditText(QStringView text, LineEnd lineEnd, QChar before = QChar());

// The longest start of bytes that fits in room bytes without cutting a
// character or a CR LF pair.
std::size_t fittingPrefix(std::string_view bytes, std::size_t room);

// Byte offsets of a document against positions in the box, which count UTF-16
// units: a marker and a break take one position, a character as many as it
// shows as (two for a pair shown beyond the BMP). Looking further on from the
// last answer starts where that one ended, so walking forward through a
// document costs one pass. The bytes must outlive the map.
class PositionMap {
public:
    enum class Rounding { Down, Up };

    PositionMap(std::string_view bytes, LineEnd lineEnd);

    // An offset inside a character or a plain CR LF break rounds as asked.
    int positionOf(std::size_t byteOffset, Rounding rounding) const;
    int byteOffsetOf(int position) const;

private:
    struct Unit {
        std::size_t byteStart;
        int positionStart;
        int bytes;
        int positions;
        bool markers;
    };
    Unit unitAt(std::size_t byteStart, int positionStart) const;
    void rewind() const;

    std::string_view bytes_;
    LineEnd lineEnd_;
    // Start of the unit where the last walk stopped.
    mutable std::size_t anchorByte_ = 0;
    mutable int anchorPosition_ = 0;
};

}  // namespace qinghe
