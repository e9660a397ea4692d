#pragma once

// The bytes of a private-profile file seen as lines: "[section]" headers,
// "key=value" lines, and everything else (comments, blank and odd lines),
// which is only ever carried along unchanged.

#include "text/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qinghe {

// Bytes a settings file may hold: the program's own entries take a few
// kilobytes, so a longer file is no settings file of ours and reads as
// unreadable, as a missing one does, instead of stalling the start.
inline constexpr std::size_t kProfileByteLimit = std::size_t(16) << 20;

// Whether two section or key names are the same: ASCII letters without regard
// to case, double-byte characters byte for byte.
bool sameProfileName(std::string_view a, std::string_view b);

// The value of key in the first section named section, without the spaces
// and tabs around it and without one pair of enclosing double quotes;
// nothing when that section has no such key.
std::optional<Text> findProfileValue(std::string_view file, std::string_view section,
                                     std::string_view key);

// The part of value that fits a buffer of bufferSize bytes with its
// terminating zero (bufferSize - 1 bytes at most), never ending in half a
// double-byte character.
Text fitProfileBuffer(std::string_view value, int bufferSize);

// A settings file parsed once, for looking up many keys: each lookup gives
// what findProfileValue gives on the same bytes. A file longer than
// kProfileByteLimit is taken as an empty one.
class ProfileSnapshot {
public:
    ProfileSnapshot() = default;
    explicit ProfileSnapshot(Text file);

    // As findProfileValue on the file's bytes.
    std::optional<Text> find(std::string_view section, std::string_view key) const;

private:
    // A section header or a key line: where its name (and a key's value)
    // stands in the file. Offsets fit 32 bits as the file's length is limited.
    struct Entry {
        std::uint32_t nameBegin = 0;
        std::uint32_t nameLength = 0;
        std::uint32_t valueBegin = 0;
        std::uint32_t valueLength = 0;
        bool isSection = false;
    };
    static_assert(kProfileByteLimit <= UINT32_MAX);

    Text file_;
    std::vector<Entry> entries_;          // headers and key lines, in file order
    std::vector<std::uint32_t> headers_;  // indexes of the headers in entries_
};

// Whether the lines written for key=value in section read back as that very
// value when section and key are looked up: no line break or zero byte, no
// "=" in the key, no "]" in the section name, a key that does not start like
// a comment or a header, a section name that does not end in a lead byte
// (which would swallow the "]" after it), a value without blanks at its ends
// or quotes around it, which the reader drops.
bool isStorableProfileEntry(std::string_view section, std::string_view key, std::string_view value);

// Whether looking up key in section of file gives exactly value.
bool readsBack(std::string_view file, std::string_view section, std::string_view key, std::string_view value);

// file with key set to value in section: the first such key's line replaced,
// else a new line after the section's last key (right after its header when
// it has none), else the section added at the end of the file.
Text withProfileValue(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view value);

// file without the lines of key in the first section named section; every
// other line as it was.
Text withoutProfileKey(std::string_view file, std::string_view section, std::string_view key);

} // namespace qinghe
