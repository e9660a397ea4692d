// The sound search takes any text: what the host types, and a slot's name.
// The input's first byte says where the name ends; the rest is the query,
// read once as UTF-8 and once as raw UTF-16, so lone surrogates come too.

#include "search/sound_search.h"

#include <cstdint>
#include <cstdlib>
#include <set>

namespace {

void check(const qinghe::SoundSearch& search, const QString& query)
{
    const std::vector<std::size_t> found = search.find(query);
    const std::set<std::size_t> distinct(found.begin(), found.end());
    if (distinct.size() != found.size() || (!found.empty() && *distinct.rbegin() >= search.entries().size()))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t nameSize = std::min<std::size_t>(data[0], size - 1);
    const char* name = reinterpret_cast<const char*>(data + 1);
    const char* rest = name + nameSize;
    const std::size_t restSize = size - 1 - nameSize;

    const QString slotName = QString::fromUtf8(name, static_cast<qsizetype>(nameSize));
    const qinghe::SoundSearch search(qinghe::boardSearchEntries([&slotName](int) { return slotName; }));
    // A named slot is found by its own name.
    if (!slotName.isEmpty() && search.find(slotName).empty())
        std::abort();
    check(search, QString::fromUtf8(rest, static_cast<qsizetype>(restSize)));
    check(search, QString(reinterpret_cast<const QChar*>(rest), static_cast<qsizetype>(restSize / 2)));
    return 0;
}
