// Any bytes as a note the notepad opens: whatever it takes the file to
// spell, saving the document unchanged gives the file's bytes back.

#include "editor/document_encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const qinghe::DocumentOfFile document = qinghe::documentOfFileBytes(bytes);
    if (qinghe::fileBytesOfDocument(document.text, document.encoding) != bytes)
        std::abort();
    return 0;
}
