#include "line_ends.h"

#include "text/gbk.h"

namespace qinghe {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char16_t kParagraphSeparator = 0x2029;

bool isBreakByte(char c) { return c == kCr || c == kLf; }

// Bytes taken by the unit that starts at i: a line break or one character of
// the text model, the same characters that toQString shows one by one.
int unitBytes(std::string_view bytes, std::size_t i, LineEnd* breakKind)
{
    const char c = bytes[i];
    if (c == kCr && i + 1 < bytes.size() && bytes[i + 1] == kLf) {
        *breakKind = LineEnd::CrLf;
        return 2;
    }
    if (c == kCr || c == kLf) {
        *breakKind = c == kCr ? LineEnd::Cr : LineEnd::Lf;
        return 1;
    }
    return static_cast<int>(characterLength(bytes, i));
}

bool isMarker(QChar c) { return c.unicode() == kCrMarker || c.unicode() == kLfMarker; }
bool isBoxBreak(QChar c) { return c.unicode() == kParagraphSeparator || c == QLatin1Char(kLf); }

void appendLineEnd(QString& out, LineEnd lineEnd)
{
    if (lineEnd != LineEnd::Lf)
        out += QLatin1Char(kCr);
    if (lineEnd != LineEnd::Cr)
        out += QLatin1Char(kLf);
}

}  // namespace

int lineEndBytes(LineEnd lineEnd) { return lineEnd == LineEnd::CrLf ? 2 : 1; }

LineEnd firstLineEnd(std::string_view bytes, LineEnd fallback)
{
    // Only a CR or LF that is a character of its own ends a line.
    for (std::size_t i = 0; i < bytes.size(); i += characterLength(bytes, i)) {
        if (bytes[i] == kLf)
            return LineEnd::Lf;
        if (bytes[i] == kCr)
            return i + 1 < bytes.size() && bytes[i + 1] == kLf ? LineEnd::CrLf : LineEnd::Cr;
    }
    return fallback;
}

QString toEditText(std::string_view bytes, LineEnd lineEnd)
{
    const QString decoded = toQString(bytes);
    if (!decoded.contains(QLatin1Char(kCr)) && lineEnd == LineEnd::Lf)
        return decoded;
    QString out;
    out.reserve(decoded.size() + decoded.size() / 8);
    const qsizetype n = decoded.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = decoded[i];
        if (c != QLatin1Char(kCr) && c != QLatin1Char(kLf)) {
            out += c;
            continue;
        }
        LineEnd kind = c == QLatin1Char(kLf) ? LineEnd::Lf : LineEnd::Cr;
        if (kind == LineEnd::Cr && i + 1 < n && decoded[i + 1] == QLatin1Char(kLf)) {
            kind = LineEnd::CrLf;
            ++i;
        }
        if (kind != lineEnd) {
            if (kind != LineEnd::Lf)
                out += QChar(kCrMarker);
            if (kind != LineEnd::Cr)
                out += QChar(kLfMarker);
        }
        out += QLatin1Char(kLf);
    }
    return out;
}

Text fromEditText(QStringView text, LineEnd lineEnd, QChar before)
{
    QString plain;
    plain.reserve(text.size() + text.size() / 8);
    QChar previous = before;
    for (const QChar c : text) {
        if (c.unicode() == kCrMarker)
            plain += QLatin1Char(kCr);
        else if (c.unicode() == kLfMarker)
            plain += QLatin1Char(kLf);
        else if (isBoxBreak(c)) {
            // A break right after markers is theirs: the markers hold its bytes.
            if (!isMarker(previous))
                appendLineEnd(plain, lineEnd);
        } else
            plain += c;
        previous = c;
    }
    return fromQString(plain);
}

std::size_t fittingPrefix(std::string_view bytes, std::size_t room)
{
    std::size_t used = 0;
    LineEnd kind = LineEnd::CrLf;
    while (used < bytes.size()) {
        const auto size = static_cast<std::size_t>(unitBytes(bytes, used, &kind));
        if (used + size > room)
            break;
        used += size;
    }
    return used;
}

PositionMap::PositionMap(std::string_view bytes, LineEnd lineEnd) : bytes_(bytes), lineEnd_(lineEnd) {}

PositionMap::Unit PositionMap::unitAt(std::size_t byteStart, int positionStart) const
{
    LineEnd kind = lineEnd_;
    const int size = unitBytes(bytes_, byteStart, &kind);
    const bool lineBreak = isBreakByte(bytes_[byteStart]);
    const bool markers = lineBreak && kind != lineEnd_;
    const int shown = lineBreak ? 1 : shownLength(bytes_, byteStart);
    return Unit{byteStart, positionStart, size, markers ? size + 1 : shown, markers};
}

void PositionMap::rewind() const
{
    anchorByte_ = 0;
    anchorPosition_ = 0;
}

int PositionMap::positionOf(std::size_t byteOffset, Rounding rounding) const
{
    if (byteOffset > bytes_.size())
        byteOffset = bytes_.size();
    if (byteOffset < anchorByte_)
        rewind();
    std::size_t byte = anchorByte_;
    int position = anchorPosition_;
    while (byte < bytes_.size()) {
        const Unit unit = unitAt(byte, position);
        const std::size_t end = unit.byteStart + static_cast<std::size_t>(unit.bytes);
        if (byteOffset < end) {
            anchorByte_ = unit.byteStart;
            anchorPosition_ = unit.positionStart;
            const auto inside = static_cast<int>(byteOffset - unit.byteStart);
            if (inside == 0 || unit.markers)
                return unit.positionStart + inside;
            return rounding == Rounding::Down ? unit.positionStart : unit.positionStart + unit.positions;
        }
        byte = end;
        position += unit.positions;
    }
    anchorByte_ = byte;
    anchorPosition_ = position;
    return position;
}

int PositionMap::byteOffsetOf(int position) const
{
    if (position < anchorPosition_)
        rewind();
    std::size_t byte = anchorByte_;
    int at = anchorPosition_;
    while (byte < bytes_.size()) {
        const Unit unit = unitAt(byte, at);
        if (position < unit.positionStart + unit.positions) {
            anchorByte_ = unit.byteStart;
            anchorPosition_ = unit.positionStart;
            // Inside a marked break each marker stands for its byte; the break itself for none.
            const int inside = position - unit.positionStart;
            return static_cast<int>(unit.byteStart) + (unit.markers ? inside : 0);
        }
        byte += static_cast<std::size_t>(unit.bytes);
        at += unit.positions;
    }
    anchorByte_ = byte;
    anchorPosition_ = at;
    return static_cast<int>(byte);
}

}  // namespace qinghe
