#pragma once

#include "import_scope.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace qinghe {

// Why a library image could not be brought up.
enum class MapFailure {
    None,
    NotElf,              // magic, byte order or format version
    WrongClass,          // not a 64-bit image
    WrongMachine,        // built for another processor, or not a shared object
    BadHeaders,          // a header or segment lies outside the image or contradicts another
    ThreadLocalStorage,  // the image wants thread-local storage, which this loader does not set up
    NoAddressSpace,      // no room to reserve the image
    BadDynamic,          // the dynamic table is missing, malformed, or names a table outside the image
    MissingLibrary,      // a needed library cannot be opened
    MissingSymbol,       // an imported symbol is defined nowhere
    UnknownRelocation,   // a relocation kind this loader does not apply
    WritableCode,        // a segment or the table asks for code that is writable
    ProtectionRefused,   // the system refused a protection change
};

struct MapOptions {
    // Null: the system's scope.
    std::unique_ptr<ImportScope> imports;
    // The fuzz target maps images it must never run.
    bool runInitialisers = true;
};

class MappedLibrary;

struct MapResult {
    std::unique_ptr<MappedLibrary> library;  // null when the mapping failed
    MapFailure failure = MapFailure::None;
};

// A shared object brought up from bytes in memory, without the system loader:
// its loadable segments copied into one reserved range (at the address it was
// linked for when that is free), relocated, its imports bound, each segment
// protected as its flags say and its initialisers run. Dropping it runs the
// finalisers, releases the range and closes the libraries it opened.
class MappedLibrary {
public:
    // Every header and table is checked against the image before it is used;
    // any failure releases whatever was built so far.
    static MapResult map(std::span<const std::uint8_t> image, MapOptions options = {});

    ~MappedLibrary();
    MappedLibrary(const MappedLibrary&) = delete;
    MappedLibrary& operator=(const MappedLibrary&) = delete;

    // The address of an exported function or object, found through the
    // image's own hash table; null when the image does not export the name.
    void* findExport(std::string_view name) const;

    // Where the image's first page lies, and where it was linked to lie.
    std::uintptr_t base() const { return base_; }
    std::uintptr_t preferredBase() const { return preferredBase_; }
    std::size_t mappedSize() const { return span_; }
    bool initialised() const { return initialised_; }

private:
    struct Segment {
        std::uint64_t address;  // as linked
        std::uint64_t memorySize;
        std::uint64_t fileOffset;
        std::uint64_t fileSize;
        std::uint32_t flags;
    };
    struct Region {
        std::uint64_t address = 0;  // as linked; 0 when absent
        std::uint64_t size = 0;
    };
    struct DynamicTables {
        std::vector<std::uint64_t> needed;  // name offsets in the string table
        Region strings;
        std::uint64_t symbols = 0;
        Region relocations;
        Region jumpRelocations;
        std::uint64_t hash = 0;
        std::uint64_t gnuHash = 0;
        std::uint64_t init = 0;
        Region initArray;
        std::uint64_t fini = 0;
        Region finiArray;
    };
    enum class Access { Any, Readable, Executable };
    using Routine = void (*)();

    MappedLibrary() = default;

    MapFailure readLayout(std::span<const std::uint8_t> image);
    MapFailure reserve();
    void copySegments(std::span<const std::uint8_t> image);
    MapFailure readDynamic();
    MapFailure openNeeded();
    MapFailure relocate(const Region& table);
    MapFailure symbolValue(std::uint64_t index, std::uint64_t& value) const;
    MapFailure protect();
    bool readRoutineArray(const Region& array, std::vector<std::uint64_t>& addresses) const;
    MapFailure collectRoutines();
    void runFinalisers();

    bool inSegment(std::uint64_t address, std::uint64_t size, Access access) const;
    template <class T>
    bool read(std::uint64_t address, T& value) const;
    const char* nameAt(std::uint64_t offset) const;
    void* exportedAddress(std::uint32_t index, std::string_view name) const;
    void* findThroughGnuHash(std::string_view name) const;
    void* findThroughHash(std::string_view name) const;

    std::vector<Segment> segments_;
    Region dynamicRegion_;
    Region relroRegion_;
    std::uint64_t alignment_ = 0;
    std::uintptr_t preferredBase_ = 0;
    std::uintptr_t base_ = 0;  // 0 until reserved
    std::size_t span_ = 0;
    std::uint64_t bias_ = 0;  // base_ - preferredBase_, modulo 2^64
    std::size_t pageSize_ = 0;
    DynamicTables dynamic_;
    std::unique_ptr<ImportScope> imports_;
    std::vector<Routine> initialisers_;
    std::vector<Routine> finalisers_;
    bool initialised_ = false;
};

}  // namespace qinghe
