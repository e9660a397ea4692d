// Any bytes as the update page: the entries read from it and the names it
// gives never fail, and a name the updater would act on is always one plain
// file name inside the program's folder.

#include "net/file_name.h"
#include "online/update_rules.h"
#include "text/text.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool promise)
{
    if (!promise)
        std::abort();
}

const QString kFolder = QStringLiteral("/opt/qinghe");

// A name acted on lies directly in the folder, whatever the page said.
void requireInFolder(std::string_view name)
{
    const QString path = qinghe::fileBesideProgram(kFolder, name);
    if (path.isEmpty())
        return;
    require(qinghe::isOnePlainFileName(name));
    require(path.startsWith(kFolder + QLatin1Char('/')));
    const QString rest = path.mid(kFolder.size() + 1);
    require(!rest.isEmpty() && !rest.contains(QLatin1Char('/')) && !rest.contains(QLatin1Char('\\')));
    require(rest != QLatin1String(".") && rest != QLatin1String(".."));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const qinghe::UpdateEntries entries = qinghe::readUpdateEntries(page);
    for (const qinghe::Text* entry : {&entries.downloadAddress, &entries.runName, &entries.deleteName})
        require(entry->size() <= size);
    requireInFolder(entries.runName);
    requireInFolder(entries.deleteName);
    requireInFolder(qinghe::downloadFileName(entries.downloadAddress));
    // The whole input as a name, too: the page's markers need not be there.
    requireInFolder(page);
    const qinghe::Text plain = qinghe::plainFileName(page);
    if (!plain.empty())
        requireInFolder(plain);
    return 0;
}
