#include "online_texts.h"

#include <utility>

namespace qinghe {

OnlineTexts::Values OnlineTexts::values() const
{
    const std::lock_guard lock(mutex_);
    return values_;
}

void OnlineTexts::setVersionCheck(Text currentVersion, Text updatePageText, Text latestVersion)
{
    const std::lock_guard lock(mutex_);
    values_.currentVersion = std::move(currentVersion);
    values_.updatePageText = std::move(updatePageText);
    values_.latestVersion = std::move(latestVersion);
}

void OnlineTexts::setCounterPageText(Text counterPageText)
{
    const std::lock_guard lock(mutex_);
    values_.counterPageText = std::move(counterPageText);
}

void OnlineTexts::setUpdatePageText(Text updatePageText)
{
    const std::lock_guard lock(mutex_);
    values_.updatePageText = std::move(updatePageText);
}

}  // namespace qinghe
