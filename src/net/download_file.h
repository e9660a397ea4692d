#pragma once

// The local side of a download. The bytes go to a partial file beside the
// target ("<target>.part"), which takes the target's name only when every
// byte has arrived; so a broken download never looks complete, and a file
// already at the target is never touched.

#include "text/text.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qinghe {

// Added to the target's name while the download runs.
inline constexpr const char* kPartialFileSuffix = ".part";

// The native path of a save path (GBK, "\" or "/" between folders).
std::string nativePath(const Text& savePath);

// The size of whatever lies at the native path (a dangling link counts,
// with size 0); nothing when the path is free.
std::optional<std::int64_t> existingSize(const std::string& path);

class PartialFile {
public:
    PartialFile() = default;
    ~PartialFile();  // an unfinished file is removed
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // Creates the partial file of target empty (one left by an earlier run
    // is replaced; a link there is not followed).
    bool create(const std::string& target);
    bool isOpen() const { return descriptor_ >= 0; }
    // Whether size bytes fit on the file's disk, asked before any room is
    // claimed; true where the file system cannot say.
    bool fits(std::int64_t size) const;
    // Claims the room for size bytes now, so a full disk shows before the
    // transfer; true where the file system cannot claim ahead.
    bool reserve(std::int64_t size);
    // Appends the bytes.
    bool append(const char* bytes, std::size_t count);
    std::int64_t size() const { return size_; }
    // The system's error number of the last failed step, 0 when none failed.
    int lastError() const { return lastError_; }
    // Empties the file to start the download over.
    bool restart();
    // Flushes the bytes to disk and gives the file the target's name unless
    // something has taken that name meanwhile; false, the file removed, on
    // any failure. With replace, a file at the target is replaced in one step
    // and its permissions go to the new file.
    bool finish(bool replace = false);
    // Removes the file.
    void discard();

private:
    int descriptor_ = -1;
    std::int64_t size_ = 0;
    int lastError_ = 0;
    std::string target_;
    std::string partial_;
};

}  // namespace qinghe
