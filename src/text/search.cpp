#include "text.h"

#include <climits>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qinghe {

namespace {

constexpr std::size_t kNone = std::string_view::npos;
#if defined(__SSE2__)
// Candidate positions tested together by one vector comparison.
constexpr std::size_t kBlock = 16;
#endif
// The filter below admits both cases of a letter by setting the one bit in
// which they differ; that holds for ASCII, whose folding the text core defines.
constexpr auto kCaseBit = static_cast<unsigned char>(kAsciiCaseDistance);
static_assert((kCaseBit & (kCaseBit - 1)) == 0, "the cases of a letter differ in one bit");
static_assert(('A' | kCaseBit) == 'a' && ('Z' | kCaseBit) == 'z', "setting the bit makes a letter small");

const unsigned char* bytesOf(std::string_view s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Equal bytes, or the same letter in either case when fold is set.
bool bytesMatch(const unsigned char* a, const unsigned char* b, std::size_t count,
                bool fold)
{
    if (!fold)
        return std::memcmp(a, b, count) == 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (a[i] != b[i] && toLowerAscii(static_cast<char>(a[i])) != toLowerAscii(static_cast<char>(b[i])))
            return false;
    }
    return true;
}

// Quick test for one pattern byte: x may match when (x | orBits) == target.
// For a letter under folding that admits exactly its two cases.
struct ByteFilter {
    unsigned char orBits;
    unsigned char target;

    bool accepts(unsigned char x) const { return (x | orBits) == target; }
};

ByteFilter filterFor(unsigned char c, bool fold)
{
    if (fold && isAsciiLetter(static_cast<char>(c)))
        return {kCaseBit, static_cast<unsigned char>(toLowerAscii(static_cast<char>(c)))};
    return {0, c};
}

// Next occurrence of pattern at or after from, with no regard to where
// characters start; kNone when there is none. pattern is not empty.
std::size_t rawFind(std::string_view text, std::size_t from, std::string_view pattern,
                    bool fold)
{
    const std::size_t n = text.size();
    const std::size_t m = pattern.size();
    if (m > n || from > n - m)
        return kNone;
    const std::size_t lastCandidate = n - m;
    const unsigned char* s = bytesOf(text);
    const unsigned char* p = bytesOf(pattern);
    // Filtering on the first and last pattern byte rejects almost every
    // position before the full comparison.
    const ByteFilter head = filterFor(p[0], fold);
    const ByteFilter tail = filterFor(p[m - 1], fold);
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i headOr = _mm_set1_epi8(static_cast<char>(head.orBits));
    const __m128i headTarget = _mm_set1_epi8(static_cast<char>(head.target));
    const __m128i tailOr = _mm_set1_epi8(static_cast<char>(tail.orBits));
    const __m128i tailTarget = _mm_set1_epi8(static_cast<char>(tail.target));
    // Both loads of a block stay inside the text while the block's last
    // candidate is a valid one.
    while (i <= lastCandidate && lastCandidate - i >= kBlock - 1) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + m - 1));
        const __m128i hits = _mm_and_si128(
            _mm_cmpeq_epi8(_mm_or_si128(first, headOr), headTarget),
            _mm_cmpeq_epi8(_mm_or_si128(last, tailOr), tailTarget));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        while (mask != 0) {
            const std::size_t q = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (bytesMatch(s + q, p, m, fold))
                return q;
            mask &= mask - 1;
        }
        i += kBlock;
    }
#endif
    for (; i <= lastCandidate; ++i) {
        if (head.accepts(s[i]) && tail.accepts(s[i + m - 1]) && bytesMatch(s + i, p, m, fold))
            return i;
    }
    return kNone;
}

// Walking characters from the character start `from`, the first character
// start at or after target.
std::size_t stepTo(std::string_view text, std::size_t from, std::size_t target)
{
    const std::size_t start = characterStart(text, target, from);
    return start == target ? target : start + characterLength(text, start);
}

// Index of the first match of pattern at a character start reached by
// stepping from `from` (itself a character start), or kNone.
std::size_t findAligned(std::string_view text, std::size_t from, std::string_view pattern,
                        bool fold)
{
    std::size_t cursor = from;
    for (;;) {
        const std::size_t q = rawFind(text, cursor, pattern, fold);
        if (q == kNone)
            return kNone;
        const std::size_t next = stepTo(text, cursor, q);
        if (next == q)
            return q;
        // The occurrence sits on a second byte; go on from the character after it.
        cursor = next;
    }
}

} // namespace

int findInText(std::string_view text, std::string_view pattern, int start, bool ignoreCase)
{
    const std::size_t n = text.size();
    const std::size_t begin = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
    if (begin >= n)
        return -1;
    if (pattern.empty())
        return 1;
    const std::size_t q = findAligned(text, begin, pattern, ignoreCase);
    // A position an int cannot hold cannot be reported either.
    if (q == kNone || q >= static_cast<std::size_t>(INT_MAX))
        return -1;
    return static_cast<int>(q) + 1;
}

Text replaceInText(std::string_view text, std::string_view pattern, std::string_view replacement,
                   bool matchCase)
{
    if (text.empty() || pattern.empty())
        return Text(text);
    Text out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (;;) {
        const std::size_t q = findAligned(text, copied, pattern, !matchCase);
        if (q == kNone)
            break;
        out.append(text.substr(copied, q - copied));
        out.append(replacement);
        copied = q + pattern.size();
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace qinghe
