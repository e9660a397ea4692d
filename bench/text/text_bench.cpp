#include "text.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Big enough that the search runs from memory, not from cache.
constexpr std::size_t kTextSize = 100u * 1024 * 1024;
// The replaced word turns up about this often.
constexpr std::size_t kWordSpacing = 1024;
// The found needle sits this far before the end.
constexpr std::size_t kNeedleFromEnd = 4096;
// "掌声" in GBK, then ASCII, so both kinds of byte are in the needle.
constexpr std::string_view kNeedle = "\xD5\xC6\xC9\xF9" "Needle42";
constexpr std::string_view kAbsent = "zqxj-never";
constexpr std::string_view kWord = "applause";
constexpr std::string_view kWordCapital = "Applause";
constexpr std::string_view kWords[] = {"sound", "effect", "host", "music", "play",
                                       "stop", "volume", "list", "key", "board"};
// Common GB2312 characters: lead B0-D7, trail A1-FE.
constexpr unsigned kLeadFirst = 0xB0;
constexpr unsigned kLeadCount = 0xD7 - 0xB0 + 1;
constexpr unsigned kTrailFirst = 0xA1;
constexpr unsigned kTrailCount = 0xFE - 0xA1 + 1;

// Fixed pseudo-random sequence, so every run measures the same text.
struct Lcg {
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    unsigned next()
    {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<unsigned>(state >> 33);
    }
};

std::string buildText()
{
    std::string t;
    t.reserve(kTextSize + kWordSpacing);
    Lcg rng;
    std::size_t nextWord = kWordSpacing;
    bool capital = false;
    while (t.size() < kTextSize) {
        const unsigned r = rng.next();
        if (r % 3 == 0) {
            t += kWords[(r >> 8) % std::size(kWords)];
            t += ' ';
        } else {
            for (unsigned k = 0; k < 1 + (r >> 8) % 6; ++k) {
                const unsigned c = rng.next();
                t += static_cast<char>(kLeadFirst + c % kLeadCount);
                t += static_cast<char>(kTrailFirst + (c >> 8) % kTrailCount);
            }
        }
        if (t.size() >= nextWord) {
            t += capital ? kWordCapital : kWord;
            capital = !capital;
            nextWord += kWordSpacing;
        }
    }
    // Characters only before the needle, so it starts on a character start.
    t.resize(kTextSize - kNeedleFromEnd);
    t += ' ';
    t += kNeedle;
    while (t.size() < kTextSize)
        t += "tail ";
    return t;
}

const std::string& bigText()
{
    static const std::string text = buildText();
    return text;
}

std::string_view needleFor(const benchmark::State& state)
{
    return state.range(0) == 0 ? kNeedle : kAbsent;
}

void findInText(benchmark::State& state, bool ignoreCase)
{
    const std::string& text = bigText();
    const std::string_view needle = needleFor(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(qinghe::findInText(text, needle, 1, ignoreCase));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_FindInTextMatchCase(benchmark::State& state) { findInText(state, false); }
void BM_FindInTextIgnoreCase(benchmark::State& state) { findInText(state, true); }

void BM_Memmem(benchmark::State& state)
{
    const std::string& text = bigText();
    const std::string_view needle = needleFor(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(memmem(text.data(), text.size(), needle.data(), needle.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void replaceInText(benchmark::State& state, bool matchCase)
{
    const std::string& text = bigText();
    for (auto _ : state)
        benchmark::DoNotOptimize(qinghe::replaceInText(text, kWord, "cheering", matchCase));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ReplaceInTextMatchCase(benchmark::State& state) { replaceInText(state, true); }
void BM_ReplaceInTextIgnoreCase(benchmark::State& state) { replaceInText(state, false); }

} // namespace

// Argument 0: needle near the end; 1: needle that never occurs.
BENCHMARK(BM_FindInTextMatchCase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindInTextIgnoreCase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceInTextMatchCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceInTextIgnoreCase)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
