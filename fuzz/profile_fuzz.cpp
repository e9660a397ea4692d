// Random settings files for the INI store: the snapshot must answer as the
// line-by-line lookup does, the buffer cut must keep whole characters, and a
// write that reports success must read back, on bytes and on a real file.

#include "base/private_profile.h"
#include "base/profile_document.h"
#include "text/text.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace qinghe;

namespace {

// Longest section name, key and value taken from an input: short parts
// collide with what the file holds far more often.
constexpr std::size_t kLongestPart = 16;
// Bytes at the start of an input that steer the run: a flags byte, a buffer
// size and three part lengths.
constexpr std::size_t kHeaderBytes = 5;
// Flag of the flags byte that sends the case through a real file as well.
constexpr std::uint8_t kOnDisk = 0x01;
// Never a value: no value holds a line feed.
constexpr std::string_view kNoValue = "\n";

[[noreturn]] void fail(const char* what, std::string_view file, std::string_view section,
                       std::string_view key, std::string_view value)
{
    std::fprintf(stderr, "%s\nsection [%.*s] key [%.*s] value [%.*s]\nfile %zu bytes\n", what,
                 int(section.size()), section.data(), int(key.size()), key.data(), int(value.size()),
                 value.data(), file.size());
    std::abort();
}

// A folder on a memory disk where one can be had: the write path flushes
// every file it writes.
const QString& scratchFile()
{
    static const QString path = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        static std::string folder = std::string(base) + "/qinghe-profile-fuzz-XXXXXX";
        if (!::mkdtemp(folder.data()))
            std::abort();
        std::atexit([] {
            ::unlink((folder + "/my.ini").c_str());
            ::rmdir(folder.c_str());
        });
        return QFile::decodeName(QByteArray::fromStdString(folder)) + QStringLiteral("/my.ini");
    }();
    return path;
}

void putFile(const QString& path, std::string_view bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    ::close(fd);
}

void checkBufferCut(std::string_view value, int bufferSize)
{
    const Text cut = fitProfileBuffer(value, bufferSize);
    const std::size_t room = bufferSize > 0 ? static_cast<std::size_t>(bufferSize - 1) : 0;
    if (cut.size() > room || value.substr(0, cut.size()) != cut)
        fail("the cut value is no prefix within the buffer", value, {}, {}, cut);
    if (cut.size() < value.size() && cut.size() + characterLength(value, cut.size()) <= room)
        fail("the cut dropped a character that fits", value, {}, {}, cut);
    if (cut.size() < value.size() && characterStart(value, cut.size()) != cut.size())
        fail("the cut splits a character", value, {}, {}, cut);
}

void checkOnDisk(std::string_view file, std::string_view section, std::string_view key, std::string_view value,
                 bool storable)
{
    const QString& path = scratchFile();
    putFile(path, file);
    const bool written = writeProfileString(path, section, key, value);
    if (written != storable)
        fail(written ? "a refused entry was written" : "a storable entry was not written", file, section, key, value);
    if (written) {
        if (readProfileString(path, section, key, kNoValue, kProfileBufferSize)
            != fitProfileBuffer(value, kProfileBufferSize))
            fail("a written entry does not read back from the file", file, section, key, value);
        if (readProfileString(readProfileSnapshot(path), section, key, kNoValue) != fitProfileBuffer(value, kProfileBufferSize))
            fail("a written entry does not read back from a snapshot", file, section, key, value);
    } else {
        const std::optional<QByteArray> after = [&]() -> std::optional<QByteArray> {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                return std::nullopt;
            return f.readAll();
        }();
        if (!after || std::string_view(after->constData(), static_cast<std::size_t>(after->size())) != file)
            fail("a refused write changed the file", file, section, key, value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kHeaderBytes)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto flags = static_cast<std::uint8_t>(input[0]);
    const int bufferSize = static_cast<std::uint8_t>(input[1]) - 1;
    std::size_t lengths[3];
    for (int i = 0; i < 3; ++i)
        lengths[i] = static_cast<std::uint8_t>(input[2 + i]) % (kLongestPart + 1);
    input.remove_prefix(kHeaderBytes);
    std::string_view parts[3];
    for (int i = 0; i < 3; ++i) {
        parts[i] = input.substr(0, std::min(lengths[i], input.size()));
        input.remove_prefix(parts[i].size());
    }
    const std::string_view section = parts[0];
    const std::string_view key = parts[1];
    const std::string_view value = parts[2];
    const std::string_view file = input;

    // One lookup path against the other.
    const ProfileSnapshot snapshot{Text(file)};
    const std::optional<Text> found = findProfileValue(file, section, key);
    if (snapshot.find(section, key) != found)
        fail("the snapshot and the line-by-line lookup differ", file, section, key, value);
    checkBufferCut(found ? std::string_view(*found) : value, bufferSize);

    // A storable entry reads back from any file it is put in.
    const bool storable = isStorableProfileEntry(section, key, value);
    if (storable && !readsBack(withProfileValue(file, section, key, value), section, key, value))
        fail("a storable entry does not read back from the changed file", file, section, key, value);

    if (flags & kOnDisk)
        checkOnDisk(file, section, key, value, storable);
    return 0;
}
