#pragma once

// How a notepad document's characters are spelled in its file. The document
// itself is always GBK bytes (text.h); a file written in UTF-8 is turned into
// that at the file's edge and back, so that a note a phone or another editor
// wrote in UTF-8 reads as its characters and is saved as it came.

#include "text/text.h"

#include <string_view>

namespace qinghe {

enum class DocumentEncoding { Gbk, Utf8, Utf8WithBom };

struct DocumentOfFile {
    Text text;
    DocumentEncoding encoding = DocumentEncoding::Gbk;
};

// Valid UTF-8 that is more than ASCII, or that starts with a byte-order mark,
// is read as UTF-8: the document holds its characters in GBK, those GBK lacks
// in GB18030's spelling so that they survive. Anything else (GBK, plain
// ASCII, bytes of no encoding) is the document as it stands.
DocumentOfFile documentOfFileBytes(std::string_view bytes);

// The file's bytes for the document; the bytes documentOfFileBytes read, for
// a document as it was read.
Text fileBytesOfDocument(std::string_view document, DocumentEncoding encoding);

}  // namespace qinghe
