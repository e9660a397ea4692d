#include "profile_document.h"

#include <cstddef>
#include <cstdint>
#include <utility>
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

// Hands every line of file, in order, to visit.
template <typename Visit>
void forEachLine(std::string_view file, Visit visit)
{
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
        visit(line);
        begin = line.next;
    }
}

std::vector<Line> splitLines(std::string_view file)
{
    std::vector<Line> lines;
    forEachLine(file, [&](const Line& line) { lines.push_back(line); });
    return lines;
}

// A value as read: without one pair of double quotes around the whole of it.
std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && value.front() == kQuote && value.back() == kQuote)
        return value.substr(1, value.size() - 2);
    return value;
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

// The reader drops blanks around a value and then one pair of quotes around
// it, so a value that starts or ends with either goes inside quotes of its
// own: it reads back exactly, here and with the platform's own functions.
bool needsQuotes(std::string_view value)
{
    if (value.empty())
        return false;
    const bool wrapped = value.size() >= 2 && value.front() == kQuote && value.back() == kQuote;
    return wrapped || isBlank(value.front()) || isBlank(value.back());
}

Text keyLine(std::string_view key, std::string_view value)
{
    Text line(trimBlanks(key));
    line += kAssign;
    if (needsQuotes(value)) {
        line += kQuote;
        line += value;
        line += kQuote;
    } else {
        line += value;
    }
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
        return Text(unquoted(line.value));
    }
    return std::nullopt;
}

ProfileSnapshot::ProfileSnapshot(Text file)
{
    if (file.size() > kProfileByteLimit)
        return;
    file_ = std::move(file);
    const auto offset = [this](std::string_view part) {
        return static_cast<std::uint32_t>(part.data() - file_.data());
    };
    forEachLine(file_, [&](const Line& line) {
        if (line.kind == LineKind::Other)
            return;
        const bool isSection = line.kind == LineKind::Section;
        if (isSection)
            headers_.push_back(static_cast<std::uint32_t>(entries_.size()));
        entries_.push_back({offset(line.name), static_cast<std::uint32_t>(line.name.size()),
                            isSection ? 0 : offset(line.value), static_cast<std::uint32_t>(line.value.size()),
                            isSection});
    });
}

std::optional<Text> ProfileSnapshot::find(std::string_view section, std::string_view key) const
{
    const std::string_view file(file_);
    const auto nameOf = [&](const Entry& entry) { return file.substr(entry.nameBegin, entry.nameLength); };
    for (const std::uint32_t header : headers_) {
        if (!sameProfileName(nameOf(entries_[header]), trimBlanks(section)))
            continue;
        // Only the first section of that name counts, as for findProfileValue.
        for (std::size_t i = header + 1; i < entries_.size() && !entries_[i].isSection; ++i)
            if (sameProfileName(nameOf(entries_[i]), trimBlanks(key)))
                return Text(unquoted(file.substr(entries_[i].valueBegin, entries_[i].valueLength)));
        return std::nullopt;
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

Text withoutProfileKey(std::string_view file, std::string_view section, std::string_view key)
{
    const std::vector<Line> lines = splitLines(file);
    const std::size_t header = findSection(lines, trimBlanks(section));
    if (header == lines.size())
        return Text(file);
    Text kept(file.substr(0, lines[header].next));
    const std::size_t end = sectionEnd(lines, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const Line& line = lines[i];
        if (line.kind != LineKind::Key || !sameProfileName(line.name, trimBlanks(key)))
            kept += file.substr(line.begin, line.next - line.begin);
    }
    if (end < lines.size())
        kept += file.substr(lines[end].begin);
    return kept;
}

} // namespace qinghe
