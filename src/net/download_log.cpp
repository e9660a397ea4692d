#include "download_log.h"

#include "text/gbk.h"

#include <QString>

namespace qinghe::downloadStatus {

Text fill(std::string_view utf8Form, std::initializer_list<std::string_view> values)
{
    const Text form = fromQString(QString::fromUtf8(utf8Form.data(), static_cast<qsizetype>(utf8Form.size())));
    Text line;
    const std::string_view* next = values.begin();
    for (std::size_t i = 0; i < form.size();) {
        const std::size_t length = characterLength(form, i);
        const bool placeholder = length == 1 && form[i] == '%' && i + 1 < form.size() &&
                                 (form[i + 1] == 's' || form[i + 1] == 'd');
        if (placeholder && next != values.end()) {
            line.append(*next++);
            i += 2;
            continue;
        }
        line.append(form, i, length);
        i += length;
    }
    return line;
}

}  // namespace qinghe::downloadStatus
