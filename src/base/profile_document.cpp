#include "profile_document.h"

#include <cstddef>
#include <vector>

namespace qinghe {

namespace {

constexpr char kCommentMark = ';';
constexpr char kSectionOpen = '[';
constexpr char kSectionClose = ']';
constexpr char kAssign = '=';
constexpr char kQuote = '"';
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
// Lines written here end as the platform's own settings files do.
constexpr std::string_view kNewLine = "\r\n";
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s)
{
    // Neither byte is ever the second half of a GBK character.
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Position of the first c that is a character of its own, or npos.
std::size_t findCharacter(std::string_view s, char c, std::size_t from)
{
    for (std::size_t i = from; i < s.size(); i += characterLength(s, i))
        if (s[i] == c)
            return i;
    return std::string_view::npos;
}

enum class LineKind { Other, Section, Key };

struct Line {
    std::size_t begin = 0;    // first byte
    std::size_t next = 0;     // first byte of the following line
    bool terminated = false;  // ends in a line feed
    LineKind kind = LineKind::Other;
    std::string_view name;    // section or key name
    std::string_view value;   // key lines only
};

// What one line holds, its line ending already removed.
Line classify(std::string_view content)
{
    Line line;
    const std::string_view text = trimBlanks(content);
    if (text.empty() || text.front() == kCommentMark)
        return line;
    if (text.front() == kSectionOpen) {
        const std::size_t close = findCharacter(text, kSectionClose, 1);
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = trimBlanks(text.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t assign = text.find(kAssign);
    if (assign != std::string_view::npos) {
        line.kind = LineKind::Key;
        line.name = trimBlanks(text.substr(0, assign));
        line.value = trimBlanks(text.substr(assign + 1));
    }
    return line;
}

std::vector<Line> splitLines(std::string_view file)
{
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < file.size()) {
        const std::size_t feed = file.find(kLineFeed, begin);
        const bool terminated = feed != std::string_view::npos;
        std::size_t end = terminated ? feed : file.size();
        if (terminated && end > begin && file[end - 1] == kCarriageReturn)
            --end;
        Line line = classify(file.substr(begin, end - begin));
        line.begin = begin;
        line.next = terminated ? feed + 1 : file.size();
        line.terminated = terminated;
        lines.push_back(line);
        begin = line.next;
    }
    return lines;
}

// Index of the first header of section, or lines.size().
std::size_t findSection(const std::vector<Line>& lines, std::string_view section)
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Section && sameProfileName(lines[i].name, section))
            return i;
    return lines.size();
}

// Index of the next header after the one at header, or lines.size().
std::size_t sectionEnd(const std::vector<Line>& lines, std::size_t header)
{
    std::size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

Text keyLine(std::string_view key, std::string_view value)
{
    Text line(trimBlanks(key));
    line += kAssign;
    line += value;
    line += kNewLine;
    return line;
}

// file with insertion placed right after the line after, giving that line an
// ending first when it had none (the last line of a file may lack one).
Text insertAfterLine(std::string_view file, const Line& after, std::string_view insertion)
{
    Text out(file.substr(0, after.next));
    if (!after.terminated)
        out += kNewLine;
    out += insertion;
    out += file.substr(after.next);
    return out;
}

} // namespace

bool sameProfileName(std::string_view a, std::string_view b)
{
    return sameTextIgnoringCase(a, b);
}

std::optional<Text> findProfileValue(std::string_view file, std::string_view section,
                                     std::string_view key)
{
    const std::vector<Line> lines = splitLines(file);
    const std::size_t header = findSection(lines, trimBlanks(section));
    if (header == lines.size())
        return std::nullopt;
    const std::size_t end = sectionEnd(lines, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const Line& line = lines[i];
        if (line.kind != LineKind::Key || !sameProfileName(line.name, trimBlanks(key)))
            continue;
        std::string_view value = line.value;
        if (value.size() >= 2 && value.front() == kQuote && value.back() == kQuote)
            value = value.substr(1, value.size() - 2);
        return Text(value);
    }
    return std::nullopt;
}

Text fitProfileBuffer(std::string_view value, int bufferSize)
{
    if (bufferSize <= 0)
        return {};
    const auto room = static_cast<std::size_t>(bufferSize - 1);
    std::size_t end = 0;
    while (end < value.size()) {
        const std::size_t length = characterLength(value, end);
        if (end + length > room)
            break;
        end += length;
    }
    return Text(value.substr(0, end));
}

bool isStorableProfileEntry(std::string_view section, std::string_view key, std::string_view value)
{
    for (const std::string_view part : {section, key, value})
        if (part.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            return false;
    return readsBack(withProfileValue({}, section, key, value), section, key, value);
}

bool readsBack(std::string_view file, std::string_view section, std::string_view key, std::string_view value)
{
    const std::optional<Text> found = findProfileValue(file, section, key);
    return found && *found == value;
}

Text withProfileValue(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view value)
{
    const std::vector<Line> lines = splitLines(file);
    const Text entry = keyLine(key, value);
    const std::size_t header = findSection(lines, trimBlanks(section));
    if (header == lines.size()) {
        Text added = Text(1, kSectionOpen) + Text(trimBlanks(section)) + kSectionClose;
        added += kNewLine;
        added += entry;
        if (lines.empty())
            return added;
        return insertAfterLine(file, lines.back(), added);
    }
    const std::size_t end = sectionEnd(lines, header);
    std::size_t lastKey = header;
    for (std::size_t i = header + 1; i < end; ++i) {
        const Line& line = lines[i];
        if (line.kind != LineKind::Key)
            continue;
        if (sameProfileName(line.name, trimBlanks(key)))
            return Text(file.substr(0, line.begin)) + entry + Text(file.substr(line.next));
        lastKey = i;
    }
    return insertAfterLine(file, lines[lastKey], entry);
}

} // namespace qinghe
