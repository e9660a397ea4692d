# Writes a C++ source that holds one file's bytes, so that the program
# carries the file inside itself. Run with cmake -P and
#   -DINPUT=<file> -DOUTPUT=<source to write> -DFUNCTION=<name in qinghe>
file(READ "${INPUT}" digits HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${digits}")
# Twenty bytes to a line keeps the source readable in an editor.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){20})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.new"
"// Made at build time from ${name} by src/skin/embed_bytes.cmake.
#include \"skin/embedded_skin.h\"

namespace qinghe {
namespace {

alignas(16) const std::uint8_t kBytes[] = {
    ${bytes}
};

}  // namespace

std::span<const std::uint8_t> ${FUNCTION}()
{
    return kBytes;
}

}  // namespace qinghe
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
