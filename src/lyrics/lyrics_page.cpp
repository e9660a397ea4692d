#include "lyrics_page.h"

#include "text/gbk.h"

#include <QString>

#include <charconv>
#include <cstdint>

namespace qinghe {
namespace {

// The markers match the body as the browser serialises it: capital tag
// names, simple attribute values without quotes. All are matched ignoring
// ASCII case.
constexpr std::string_view kResultRowMarker = "<TD class=data>mid=";
constexpr std::string_view kSongIdStart = "data>mid=";
constexpr std::string_view kSingerStart = "msinger=";
// The search page ends each of its values with this.
constexpr std::string_view kValueEnd = "|";
constexpr std::string_view kLyricsStart = "<P id=lyrics>";
constexpr std::string_view kLyricsEnd = "</P>";
constexpr std::string_view kLineBreakTag = "<BR>";
constexpr std::string_view kLineBreakEndTag = "</BR>";
constexpr std::string_view kLineEnd = "\r\n";

constexpr std::string_view kCommentStart = "<!--";
constexpr std::string_view kCommentEnd = "-->";

// The references a page's text is written with, and what each stands for.
struct NamedReference {
    std::string_view name;  // between '&' and ';'
    char32_t character;
};
constexpr NamedReference kNamedReferences[] = {
    {"amp", U'&'}, {"lt", U'<'}, {"gt", U'>'}, {"quot", U'"'}, {"apos", U'\''},
    // A space that does not break: in plain text, a space.
    {"nbsp", U' '},
};
// The longest reference read: "&#x10FFFF;" and more leading zeros than a page writes.
constexpr std::size_t kLongestReference = 16;
// What a reference to no character stands for, as in a browser.
constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr int kDecimal = 10;
constexpr int kHexadecimal = 16;

Text characterInGbk(char32_t c)
{
    if (c == 0 || c > kLastCodePoint || QChar::isSurrogate(c))
        c = kReplacementCharacter;
    if (c < kFirstLeadByte)
        return Text(1, static_cast<char>(c));
    const char32_t one[] = {c};
    return fromQString(QString::fromUcs4(one, 1));
}

// The character that the reference at the start of text ('&' ... ';') stands
// for, and how many bytes the reference takes; 0 bytes when it is none.
std::pair<char32_t, std::size_t> readReference(std::string_view text)
{
    const std::size_t end = text.substr(0, kLongestReference).find(';');
    if (end == std::string_view::npos || end < 2)
        return {0, 0};
    const std::string_view name = text.substr(1, end - 1);
    if (name[0] != '#') {
        for (const NamedReference& reference : kNamedReferences)
            if (reference.name == name)
                return {reference.character, end + 1};
        return {0, 0};
    }
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    const std::string_view digits = name.substr(hex ? 2 : 1);
    std::uint32_t value = 0;
    const auto [stop, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? kHexadecimal : kDecimal);
    if (digits.empty() || stop != digits.data() + digits.size())
        return {0, 0};
    // Too large for any character: it stands for none.
    return {error == std::errc() ? value : kReplacementCharacter, end + 1};
}

// The markup as plain text: tags and comments out, references in.
Text plainTextOfMarkup(std::string_view markup)
{
    Text plain;
    plain.reserve(markup.size());
    std::size_t i = 0;
    while (i < markup.size()) {
        const std::string_view rest = markup.substr(i);
        if (rest[0] == '<') {
            // A '<' of the text comes as "&lt;": this one opens a tag, or a comment.
            const bool comment = rest.starts_with(kCommentStart);
            const std::size_t end = comment ? rest.find(kCommentEnd, kCommentStart.size()) : rest.find('>');
            if (end != std::string_view::npos) {
                i += end + (comment ? kCommentEnd.size() : 1);
                continue;
            }
        } else if (rest[0] == '&') {
            const auto [character, length] = readReference(rest);
            if (length > 0) {
                plain += characterInGbk(character);
                i += length;
                continue;
            }
        }
        const std::size_t length = characterLength(markup, i);
        plain.append(markup.substr(i, length));
        i += length;
    }
    return plain;
}

bool pageShows(std::string_view pageHtml, std::string_view marker)
{
    return findInText(pageHtml, marker, 1, true) > 0;
}

}  // namespace

bool hasSearchTerms(std::string_view title, std::string_view singer)
{
    return !trimSpaces(title).empty() && !trimSpaces(singer).empty();
}

Text lyricsSearchQuery(std::string_view title, std::string_view singer)
{
    return percentEncode(singer) + ' ' + percentEncode(title);
}

bool searchResultShown(std::string_view pageHtml)
{
    return pageShows(pageHtml, kResultRowMarker);
}

SearchResult readSearchResult(std::string_view pageHtml)
{
    return {textBetween(pageHtml, kSingerStart, kValueEnd), textBetween(pageHtml, kSongIdStart, kValueEnd)};
}

bool lyricsShown(std::string_view pageHtml)
{
    return pageShows(pageHtml, kLyricsStart);
}

Text lyricsOfPage(std::string_view pageHtml)
{
    const Text markup = textBetween(pageHtml, kLyricsStart, kLyricsEnd);
    // Breaks first: they are tags too.
    return plainTextOfMarkup(
        replaceInText(replaceInText(markup, kLineBreakTag, kLineEnd, false), kLineBreakEndTag, kLineEnd, false));
}

}  // namespace qinghe
