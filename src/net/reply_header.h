#pragma once

// Reading the header of a reply to the download service's request. Every
// byte here comes from the network, so nothing is assumed of its shape.

#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qinghe {

// The longest reply header read, blank line included; a longer one fails.
inline constexpr std::size_t kReplyHeaderLimit = 4097;
// Bytes asked for per receive while the header is read.
inline constexpr std::size_t kReplyHeaderPiece = 4096;

// "Content-Range: bytes first-last/total" (total may be "*").
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::optional<std::int64_t> total;
};

// The header lines the service reads. Names are matched ignoring case; of a
// line that comes more than once the first counts. Values are without the
// spaces around them.
struct ReplyHeader {
    int status = 0;  // the three digits at bytes 10 to 12 of the status line; 0 when not digits
    std::optional<std::int64_t> contentLength;  // none when missing or not a plain decimal number
    std::optional<ContentRange> contentRange;
    Text location;
    Text acceptRanges;
    Text connection;
    Text contentType;
    Text setCookie;
    Text lastModified;
    Text server;
    Text contentDisposition;
    Text transferEncoding;

    // The body comes in chunks: Transfer-Encoding names "chunked".
    bool chunked() const;
};

// Length of the header block that received starts with, through the blank
// line (CR LF CR LF); 0 while no blank line has come.
std::size_t replyHeaderLength(std::string_view received);

// The lines of a header block, the status line first.
ReplyHeader parseReplyHeader(std::string_view header);

// The file name a Content-Disposition value gives ("filename=" ignoring
// case, with or without quotes), as it stands: callers still make it plain.
Text dispositionFileName(std::string_view contentDisposition);

}  // namespace qinghe
