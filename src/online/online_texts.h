#pragma once

#include "text/text.h"

#include <mutex>

namespace qinghe {

// The texts the version check and the user counter leave for the rest of the
// program (the updater reads the update page from here). The program state
// holds it from start-up to exit; a background job keeps it alive while it
// runs. Job A and the manual check may write at the same time, so every
// access takes the lock; a reader sees one writer's whole set or the other's.
class OnlineTexts {
public:
    struct Values {
        Text currentVersion;
        Text updatePageText;
        Text latestVersion;
        Text counterPageText;
    };

    Values values() const;
    void setVersionCheck(Text currentVersion, Text updatePageText, Text latestVersion);
    void setCounterPageText(Text counterPageText);
    // The updater reads the update page again and keeps what it read.
    void setUpdatePageText(Text updatePageText);

private:
    mutable std::mutex mutex_;
    Values values_;
};

}  // namespace qinghe
