#include "document_encoding.h"

#include "text/gbk.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

namespace qinghe {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isAscii(std::string_view bytes)
{
    return std::none_of(bytes.begin(), bytes.end(), [](char byte) { return isLeadByte(byte); });
}

}  // namespace

DocumentOfFile documentOfFileBytes(std::string_view bytes)
{
    const bool marked = bytes.starts_with(kUtf8ByteOrderMark);
    const std::string_view body = marked ? bytes.substr(kUtf8ByteOrderMark.size()) : bytes;
    const DocumentOfFile asItStands{Text(bytes), DocumentEncoding::Gbk};
    if (!marked && isAscii(body))
        return asItStands;
    const QByteArray utf8 = QByteArray::fromRawData(body.data(), static_cast<qsizetype>(body.size()));
    const QString characters = QString::fromUtf8(utf8);
    // Only what comes back byte for byte counts as UTF-8: a GBK file that
    // happens to look like it a few bytes long does not.
    if (characters.toUtf8() != utf8)
        return asItStands;
    Text document = nameFromQString(characters);
    if (nameToQString(document) != characters)
        return asItStands;
    return {std::move(document), marked ? DocumentEncoding::Utf8WithBom : DocumentEncoding::Utf8};
}

Text fileBytesOfDocument(std::string_view document, DocumentEncoding encoding)
{
    if (encoding == DocumentEncoding::Gbk)
        return Text(document);
    const QByteArray utf8 = nameToQString(document).toUtf8();
    Text bytes(encoding == DocumentEncoding::Utf8WithBom ? kUtf8ByteOrderMark : std::string_view());
    bytes.append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    return bytes;
}

}  // namespace qinghe
