#pragma once

// File names that come from outside (a server's reply, an address, the
// update page) before they reach the file system, and the numbered names
// that keep a download from replacing a file.

#include "text/text.h"

#include <string_view>

namespace qinghe {

// The last part of name after any "/" or "\" (GBK-aware: a "\" that is the
// second byte of a double-byte character separates nothing), up to its first
// zero byte. Empty, meaning refused, when that part is empty, "." or "..".
// So "../x" gives "x", "/etc/passwd" gives "passwd" and "dir/" nothing.
// A part whose file-system form still holds a separator (a byte GBK has no
// character for, followed by "\") is refused too.
Text plainFileName(std::string_view name);

// Whether name is one plain file name as it stands: not empty, ".", or
// "..", no zero byte, and no "/" or "\" byte anywhere, whether or not a
// GBK lead byte comes before it. Names the update page gives must be so.
bool isOnePlainFileName(std::string_view name);

// Whether text ends in a "/" or "\" that is a character of its own.
bool endsInSeparator(std::string_view text);

// Length in bytes of the folder part of path: up to and including its last
// separator, 0 when it has none.
std::size_t folderLength(std::string_view path);

// How an existing file's name is numbered: the counter in parentheses goes
// between stem and extension, the extension starting at the first full stop
// ("a.tar.gz" numbers as "a(1).tar.gz"). A stem that already ends in a
// counter of one or two digits ("a(7)") continues from it ("a(8)").
struct NumberedName {
    Text stem;        // without the counter it already had
    Text extension;   // from the first full stop on; empty when none
    int firstCounter; // 1, or the old counter plus one
    Text withCounter(int counter) const;
};
NumberedName numberedName(std::string_view fileName);

}  // namespace qinghe
