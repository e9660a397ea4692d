#pragma once

// Settings files in the private-profile (INI) form, on GBK bytes: "[section]"
// headers and "key=value" lines. Section and key names match without regard
// to ASCII letter case; spaces and tabs around names and values do not count;
// a value wrapped in double quotes reads without them; where a section or a
// key appears twice, the first one counts.

#include "base/profile_document.h"
#include "text/text.h"

#include <QString>

#include <string_view>

namespace qinghe {

// Bytes a value is read into, its terminating zero included: the program has
// always read its settings with a buffer of this size.
inline constexpr int kProfileBufferSize = 10240;

// The value of key in section of the file at iniPath, or defaultValue when
// the file, the section or the key is missing; a file that is no regular
// file (a pipe or a device is never waited for) or holds more than
// kProfileByteLimit bytes counts as missing. The result holds at most
// bufferSize - 1 bytes; a longer one is cut there, or one byte earlier when
// the cut would split a double-byte character. A line without "=" is no key.
Text readProfileString(const QString& iniPath, std::string_view section, std::string_view key,
                       std::string_view defaultValue = {}, int bufferSize = kProfileBufferSize);

// The file at iniPath read once, to look up many keys; a file that
// readProfileString would take as missing gives an empty snapshot.
ProfileSnapshot readProfileSnapshot(const QString& iniPath);

// What readProfileString gives for the file when the snapshot was taken.
Text readProfileString(const ProfileSnapshot& snapshot, std::string_view section, std::string_view key,
                       std::string_view defaultValue = {}, int bufferSize = kProfileBufferSize);

// Sets key in section to value, creating the file and the section when they
// are missing: an existing key's line becomes "key=value", a new key follows
// the last key of its section, a new section goes at the end of the file.
// Every other line is kept byte for byte, its own line ending included; lines
// written here end in CR LF. Writers in any number of processes take turns
// (each locks the file's folder, re-reads the file, then replaces it by
// renaming a finished copy over it), so readers never see a half-written
// file and no writer loses another's key. False, with the file untouched,
// when it cannot be written (read-only folder or file, file unreadable or
// too long, no regular file: a pipe or a device is never replaced) or
// when a name or the value would not read back as written (a line break,
// "=" in the key, "]" in the section name or a lead byte at its end, a key
// starting with ";" or "[", blanks at a value's ends or quotes around it).
bool writeProfileString(const QString& iniPath, std::string_view section, std::string_view key,
                        std::string_view value);

// Takes key out of section, with the same turns and the same care for the
// other lines as writeProfileString. True when the key is gone afterwards
// (a missing file or key included); false, with the file untouched, when it
// cannot be written.
bool removeProfileKey(const QString& iniPath, std::string_view section, std::string_view key);

} // namespace qinghe
