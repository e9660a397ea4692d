#include "file_name.h"

#include "text/gbk.h"

#include <string>

namespace qinghe {

namespace {

// The counters a name may already carry are of one or two digits.
constexpr std::size_t kMostCounterDigits = 2;
constexpr int kDecimalBase = 10;

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// What the file system would see: the name as it is turned into a path.
bool fileSystemFormHasSeparator(std::string_view name)
{
    const QString form = nameToQString(Text(name));
    return form.contains(QLatin1Char('/')) || form.contains(QLatin1Char('\\'));
}

// Index just past the last separator that stands as a character of its own.
std::size_t afterLastSeparator(std::string_view text)
{
    std::size_t after = 0;
    for (std::size_t i = 0; i < text.size(); i += characterLength(text, i)) {
        if (isSeparator(text[i]))
            after = i + 1;
    }
    return after;
}

}  // namespace

Text plainFileName(std::string_view name)
{
    const std::size_t zero = name.find('\0');
    if (zero != std::string_view::npos)
        name = name.substr(0, zero);
    const std::string_view last = name.substr(afterLastSeparator(name));
    if (last.empty() || last == "." || last == ".." || fileSystemFormHasSeparator(last))
        return {};
    return Text(last);
}

bool isOnePlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        return false;
    return !fileSystemFormHasSeparator(name);
}

bool endsInSeparator(std::string_view text)
{
    return !text.empty() && isSeparator(text.back()) && characterStart(text, text.size() - 1) == text.size() - 1;
}

std::size_t folderLength(std::string_view path)
{
    return afterLastSeparator(path);
}

NumberedName numberedName(std::string_view fileName)
{
    // A full stop (0x2E) is never the second byte of a GBK character.
    const std::size_t dot = fileName.find('.');
    std::string_view stem = fileName.substr(0, dot);
    const std::string_view extension = dot == std::string_view::npos ? std::string_view() : fileName.substr(dot);

    int firstCounter = 1;
    if (!stem.empty() && stem.back() == ')') {
        const std::size_t open = stem.rfind('(');
        const std::size_t digits = open == std::string_view::npos ? 0 : stem.size() - open - 2;
        bool counter = open != std::string_view::npos && digits >= 1 && digits <= kMostCounterDigits;
        int value = 0;
        for (std::size_t i = 0; counter && i < digits; ++i) {
            const char c = stem[open + 1 + i];
            counter = isDigit(c);
            value = value * kDecimalBase + (c - '0');
        }
        // "(" (0x28) could be the second byte of a character only below 0x40,
        // which no GBK second byte is; so a found "(" is a character.
        if (counter) {
            firstCounter = value + 1;
            stem = stem.substr(0, open);
        }
    }
    return {Text(stem), Text(extension), firstCounter};
}

Text NumberedName::withCounter(int counter) const
{
    return stem + "(" + std::to_string(counter) + ")" + extension;
}

}  // namespace qinghe
