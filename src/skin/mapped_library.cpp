#include "mapped_library.h"

#include <elf.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace qinghe {
namespace {

#if defined(__x86_64__)
constexpr std::uint16_t kMachine = EM_X86_64;
#else
// Only the x86-64 relocations are known here; elsewhere every image is
// refused and the program runs without its skin.
constexpr std::uint16_t kMachine = EM_NONE;
#endif

// The skin library is a few pages; an image asking for more is not it.
constexpr std::uint64_t kMaxImageSpan = 16u << 20;
// The linker makes four loadable segments; more than this is not our library.
constexpr std::size_t kMaxLoadSegments = 16;
// Initialiser arrays mark unused entries with these.
constexpr std::uint64_t kSkippedRoutine = 0;
constexpr std::uint64_t kSkippedRoutineToo = ~std::uint64_t{0};

std::uint64_t pageFloor(std::uint64_t value, std::uint64_t page)
{
    return value & ~(page - 1);
}

// False when rounding up would pass the end of the address space.
bool pageCeil(std::uint64_t value, std::uint64_t page, std::uint64_t& rounded)
{
    if (value > ~std::uint64_t{0} - (page - 1))
        return false;
    rounded = pageFloor(value + page - 1, page);
    return true;
}

bool isPowerOfTwo(std::uint64_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

// The table length given in bytes must hold whole entries.
bool wholeEntries(std::uint64_t bytes, std::uint64_t entrySize)
{
    return bytes % entrySize == 0;
}

// The two symbol hash functions as the ELF tables define them.
std::uint32_t gnuHash(std::string_view name)
{
    std::uint32_t h = 5381;
    for (unsigned char c : name)
        h = h * 33 + c;
    return h;
}

std::uint32_t elfHash(std::string_view name)
{
    std::uint32_t h = 0;
    for (unsigned char c : name) {
        h = (h << 4) + c;
        const std::uint32_t high = h & 0xF0000000u;
        if (high != 0)
            h ^= high >> 24;
        h &= ~high;
    }
    return h;
}

int protectionOf(std::uint32_t flags)
{
    int protection = PROT_NONE;
    if (flags & PF_R)
        protection |= PROT_READ;
    if (flags & PF_W)
        protection |= PROT_WRITE;
    if (flags & PF_X)
        protection |= PROT_EXEC;
    return protection;
}

}  // namespace

MapResult MappedLibrary::map(std::span<const std::uint8_t> image, MapOptions options)
{
    std::unique_ptr<MappedLibrary> library(new MappedLibrary);
    library->imports_ = options.imports ? std::move(options.imports) : systemImportScope();
    MapResult result;
    result.failure = library->readLayout(image);
    if (result.failure == MapFailure::None)
        result.failure = library->reserve();
    if (result.failure == MapFailure::None) {
        library->copySegments(image);
        result.failure = library->readDynamic();
    }
    if (result.failure == MapFailure::None)
        result.failure = library->openNeeded();
    if (result.failure == MapFailure::None)
        result.failure = library->relocate(library->dynamic_.relocations);
    if (result.failure == MapFailure::None)
        result.failure = library->relocate(library->dynamic_.jumpRelocations);
    if (result.failure == MapFailure::None)
        result.failure = library->protect();
    if (result.failure == MapFailure::None)
        result.failure = library->collectRoutines();
    if (result.failure != MapFailure::None)
        return result;  // the half-built library goes with its range and libraries

    if (options.runInitialisers) {
        for (Routine routine : library->initialisers_)
            routine();
        library->initialised_ = true;
    }
    result.library = std::move(library);
    return result;
}

MappedLibrary::~MappedLibrary()
{
    if (initialised_)
        runFinalisers();
    if (base_ != 0)
        munmap(reinterpret_cast<void*>(base_), span_);
    // imports_ closes the libraries it opened.
}

MapFailure MappedLibrary::readLayout(std::span<const std::uint8_t> image)
{
    Elf64_Ehdr header;
    if (image.size() < EI_NIDENT || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0)
        return MapFailure::NotElf;
    if (image[EI_CLASS] != ELFCLASS64)
        return MapFailure::WrongClass;
    if (image[EI_DATA] != ELFDATA2LSB || image[EI_VERSION] != EV_CURRENT)
        return MapFailure::NotElf;
    if (image.size() < sizeof header)
        return MapFailure::BadHeaders;
    std::memcpy(&header, image.data(), sizeof header);
    if (header.e_version != EV_CURRENT)
        return MapFailure::NotElf;
    if (header.e_machine != kMachine || header.e_type != ET_DYN)
        return MapFailure::WrongMachine;
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 || header.e_phnum == PN_XNUM)
        return MapFailure::BadHeaders;
    const std::uint64_t tableSize = std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
    if (header.e_phoff > image.size() || tableSize > image.size() - header.e_phoff)
        return MapFailure::BadHeaders;

    pageSize_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t page = pageSize_;
    alignment_ = page;
    std::uint64_t lastEnd = 0;
    for (std::uint16_t i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr entry;
        std::memcpy(&entry, image.data() + header.e_phoff + i * sizeof entry, sizeof entry);
        switch (entry.p_type) {
        case PT_LOAD: {
            if (entry.p_memsz == 0 || entry.p_filesz > entry.p_memsz)
                return MapFailure::BadHeaders;
            if (entry.p_offset > image.size() || entry.p_filesz > image.size() - entry.p_offset)
                return MapFailure::BadHeaders;
            if (entry.p_vaddr > ~std::uint64_t{0} - entry.p_memsz)
                return MapFailure::BadHeaders;
            if (entry.p_align > 1 && (!isPowerOfTwo(entry.p_align) || entry.p_align > kMaxImageSpan))
                return MapFailure::BadHeaders;
            if ((entry.p_flags & PF_W) && (entry.p_flags & PF_X))
                return MapFailure::WritableCode;
            std::uint64_t end = 0;
            if (!pageCeil(entry.p_vaddr + entry.p_memsz, page, end))
                return MapFailure::BadHeaders;
            // In address order, and no two segments share a page: each page
            // gets the protection of exactly one segment.
            if (!segments_.empty() && pageFloor(entry.p_vaddr, page) < lastEnd)
                return MapFailure::BadHeaders;
            if (segments_.size() == kMaxLoadSegments)
                return MapFailure::BadHeaders;
            lastEnd = end;
            alignment_ = std::max<std::uint64_t>(alignment_, entry.p_align);
            segments_.push_back({entry.p_vaddr, entry.p_memsz, entry.p_offset, entry.p_filesz, entry.p_flags});
            break;
        }
        case PT_DYNAMIC:
            dynamicRegion_ = {entry.p_vaddr, entry.p_memsz};
            break;
        case PT_GNU_RELRO:
            relroRegion_ = {entry.p_vaddr, entry.p_memsz};
            break;
        case PT_TLS:
            return MapFailure::ThreadLocalStorage;
        case PT_INTERP:
            // A program, not a library.
            return MapFailure::WrongMachine;
        default:
            break;
        }
    }
    if (segments_.empty())
        return MapFailure::BadHeaders;
    if (dynamicRegion_.size == 0)
        return MapFailure::BadDynamic;
    const std::uint64_t low = pageFloor(segments_.front().address, page);
    if (lastEnd - low > kMaxImageSpan)
        return MapFailure::BadHeaders;
    if (relroRegion_.size != 0 && !inSegment(relroRegion_.address, relroRegion_.size, Access::Any))
        return MapFailure::BadHeaders;
    preferredBase_ = static_cast<std::uintptr_t>(low);
    span_ = static_cast<std::size_t>(lastEnd - low);
    return MapFailure::None;
}

MapFailure MappedLibrary::reserve()
{
    constexpr int kProtection = PROT_READ | PROT_WRITE;
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS;
    // Address 0 is no preference: a library linked there goes wherever there is room.
    if (preferredBase_ != 0) {
        void* at = mmap(reinterpret_cast<void*>(preferredBase_), span_, kProtection, kFlags | MAP_FIXED_NOREPLACE, -1,
                        0);
        if (at != MAP_FAILED && reinterpret_cast<std::uintptr_t>(at) == preferredBase_) {
            base_ = preferredBase_;
            bias_ = 0;
            return MapFailure::None;
        }
        // Kernels before 4.17 take the flag as a hint and may place it elsewhere.
        if (at != MAP_FAILED)
            munmap(at, span_);
    }
    // Elsewhere, keeping the base where the segments' alignment wants it.
    const std::uint64_t alignment = alignment_;
    const std::size_t total = span_ + static_cast<std::size_t>(alignment);
    void* at = mmap(nullptr, total, kProtection, kFlags, -1, 0);
    if (at == MAP_FAILED)
        return MapFailure::NoAddressSpace;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(at);
    std::uintptr_t chosen = static_cast<std::uintptr_t>(pageFloor(start + alignment - 1, alignment)) +
                            static_cast<std::uintptr_t>(preferredBase_ % alignment);
    if (chosen - start >= alignment)
        chosen -= static_cast<std::uintptr_t>(alignment);
    if (chosen > start)
        munmap(at, chosen - start);
    const std::uintptr_t end = start + total;
    if (chosen + span_ < end)
        munmap(reinterpret_cast<void*>(chosen + span_), end - (chosen + span_));
    base_ = chosen;
    bias_ = std::uint64_t{chosen} - std::uint64_t{preferredBase_};
    return MapFailure::None;
}

void MappedLibrary::copySegments(std::span<const std::uint8_t> image)
{
    for (const Segment& segment : segments_) {
        auto* target = reinterpret_cast<std::uint8_t*>(segment.address + bias_);
        std::memcpy(target, image.data() + segment.fileOffset, segment.fileSize);
        std::memset(target + segment.fileSize, 0, segment.memorySize - segment.fileSize);
    }
}

bool MappedLibrary::inSegment(std::uint64_t address, std::uint64_t size, Access access) const
{
    for (const Segment& segment : segments_) {
        if (address < segment.address || size > segment.memorySize ||
            address - segment.address > segment.memorySize - size)
            continue;
        if (access == Access::Readable)
            return (segment.flags & PF_R) != 0;
        if (access == Access::Executable)
            return (segment.flags & PF_X) != 0;
        return true;
    }
    return false;
}

template <class T>
bool MappedLibrary::read(std::uint64_t address, T& value) const
{
    if (!inSegment(address, sizeof value, Access::Readable))
        return false;
    std::memcpy(&value, reinterpret_cast<const void*>(address + bias_), sizeof value);
    return true;
}

const char* MappedLibrary::nameAt(std::uint64_t offset) const
{
    const Region& strings = dynamic_.strings;
    if (offset >= strings.size)
        return nullptr;
    const auto* start = reinterpret_cast<const char*>(strings.address + offset + bias_);
    if (std::memchr(start, 0, strings.size - offset) == nullptr)
        return nullptr;
    return start;
}

MapFailure MappedLibrary::readDynamic()
{
    if (!inSegment(dynamicRegion_.address, dynamicRegion_.size, Access::Readable))
        return MapFailure::BadDynamic;
    DynamicTables& tables = dynamic_;
    std::uint64_t symbolEntrySize = sizeof(Elf64_Sym);
    std::uint64_t relocationEntrySize = sizeof(Elf64_Rela);
    std::uint64_t jumpKind = DT_RELA;
    bool ended = false;
    const std::uint64_t count = dynamicRegion_.size / sizeof(Elf64_Dyn);
    for (std::uint64_t i = 0; i < count && !ended; ++i) {
        Elf64_Dyn entry;
        read(dynamicRegion_.address + i * sizeof entry, entry);
        const std::uint64_t value = entry.d_un.d_val;
        switch (entry.d_tag) {
        case DT_NULL: ended = true; break;
        case DT_NEEDED: tables.needed.push_back(value); break;
        case DT_STRTAB: tables.strings.address = value; break;
        case DT_STRSZ: tables.strings.size = value; break;
        case DT_SYMTAB: tables.symbols = value; break;
        case DT_SYMENT: symbolEntrySize = value; break;
        case DT_RELA: tables.relocations.address = value; break;
        case DT_RELASZ: tables.relocations.size = value; break;
        case DT_RELAENT: relocationEntrySize = value; break;
        case DT_JMPREL: tables.jumpRelocations.address = value; break;
        case DT_PLTRELSZ: tables.jumpRelocations.size = value; break;
        case DT_PLTREL: jumpKind = value; break;
        case DT_HASH: tables.hash = value; break;
        case DT_GNU_HASH: tables.gnuHash = value; break;
        case DT_INIT: tables.init = value; break;
        case DT_INIT_ARRAY: tables.initArray.address = value; break;
        case DT_INIT_ARRAYSZ: tables.initArray.size = value; break;
        case DT_FINI: tables.fini = value; break;
        case DT_FINI_ARRAY: tables.finiArray.address = value; break;
        case DT_FINI_ARRAYSZ: tables.finiArray.size = value; break;
        // Only the addend form of relocations belongs on this processor;
        // the packed relative form is not one this loader applies.
        case DT_REL:
        case DT_RELSZ:
        case DT_RELENT:
        case DT_RELR:
        case DT_RELRSZ:
        case DT_RELRENT: return MapFailure::UnknownRelocation;
        case DT_TEXTREL: return MapFailure::WritableCode;
        case DT_FLAGS:
            if (value & DF_TEXTREL)
                return MapFailure::WritableCode;
            if (value & DF_STATIC_TLS)
                return MapFailure::ThreadLocalStorage;
            break;
        // Programs only.
        case DT_PREINIT_ARRAY:
        case DT_PREINIT_ARRAYSZ: return MapFailure::BadDynamic;
        default: break;  // version tables and the like: imports bind to the default version
        }
    }
    if (!ended)
        return MapFailure::BadDynamic;
    if (tables.symbols == 0 || tables.strings.address == 0 || tables.strings.size == 0)
        return MapFailure::BadDynamic;
    if (symbolEntrySize != sizeof(Elf64_Sym) || relocationEntrySize != sizeof(Elf64_Rela))
        return MapFailure::BadDynamic;
    if (!inSegment(tables.strings.address, tables.strings.size, Access::Readable))
        return MapFailure::BadDynamic;
    if (tables.hash == 0 && tables.gnuHash == 0)
        return MapFailure::BadDynamic;
    if (tables.jumpRelocations.size != 0 && jumpKind != DT_RELA)
        return MapFailure::UnknownRelocation;
    for (const Region* table : {&tables.relocations, &tables.jumpRelocations}) {
        if (table->size == 0)
            continue;
        if (!wholeEntries(table->size, sizeof(Elf64_Rela)) ||
            !inSegment(table->address, table->size, Access::Readable))
            return MapFailure::BadDynamic;
    }
    for (const Region* table : {&tables.initArray, &tables.finiArray}) {
        if (table->size == 0)
            continue;
        if (!wholeEntries(table->size, sizeof(std::uint64_t)) ||
            !inSegment(table->address, table->size, Access::Readable))
            return MapFailure::BadDynamic;
    }
    for (std::uint64_t offset : tables.needed) {
        if (nameAt(offset) == nullptr)
            return MapFailure::BadDynamic;
    }
    return MapFailure::None;
}

MapFailure MappedLibrary::openNeeded()
{
    for (std::uint64_t offset : dynamic_.needed) {
        if (!imports_->openLibrary(nameAt(offset)))
            return MapFailure::MissingLibrary;
    }
    return MapFailure::None;
}

MapFailure MappedLibrary::symbolValue(std::uint64_t index, std::uint64_t& value) const
{
    value = 0;
    if (index == STN_UNDEF)
        return MapFailure::None;
    Elf64_Sym symbol;
    if (!read(dynamic_.symbols + index * sizeof symbol, symbol))
        return MapFailure::BadDynamic;
    const unsigned type = ELF64_ST_TYPE(symbol.st_info);
    if (type == STT_TLS)
        return MapFailure::ThreadLocalStorage;
    // Its address comes from running a resolver; this loader runs no code before the initialisers.
    if (type == STT_GNU_IFUNC)
        return MapFailure::UnknownRelocation;
    if (symbol.st_shndx == SHN_ABS) {
        value = symbol.st_value;
        return MapFailure::None;
    }
    if (symbol.st_shndx != SHN_UNDEF) {
        // The image's own symbols bind inside it.
        value = symbol.st_value + bias_;
        return MapFailure::None;
    }
    const char* name = nameAt(symbol.st_name);
    if (name == nullptr)
        return MapFailure::BadDynamic;
    if (void* found = imports_->findSymbol(name)) {
        value = reinterpret_cast<std::uintptr_t>(found);
        return MapFailure::None;
    }
    return ELF64_ST_BIND(symbol.st_info) == STB_WEAK ? MapFailure::None : MapFailure::MissingSymbol;
}

MapFailure MappedLibrary::relocate(const Region& table)
{
    const std::uint64_t count = table.size / sizeof(Elf64_Rela);
    for (std::uint64_t i = 0; i < count; ++i) {
        Elf64_Rela relocation;
        // Entries are read one at a time: an earlier one may have written over the table.
        if (!read(table.address + i * sizeof relocation, relocation))
            return MapFailure::BadDynamic;
        const std::uint64_t kind = ELF64_R_TYPE(relocation.r_info);
        if (kind == R_X86_64_NONE)
            continue;
        std::uint64_t result = 0;
        std::uint64_t symbol = 0;
        switch (kind) {
        case R_X86_64_RELATIVE:
            result = bias_ + static_cast<std::uint64_t>(relocation.r_addend);
            break;
        case R_X86_64_64:
        case R_X86_64_GLOB_DAT:
        case R_X86_64_JUMP_SLOT: {
            const MapFailure failure = symbolValue(ELF64_R_SYM(relocation.r_info), symbol);
            if (failure != MapFailure::None)
                return failure;
            result = kind == R_X86_64_64 ? symbol + static_cast<std::uint64_t>(relocation.r_addend) : symbol;
            break;
        }
        default:
            return MapFailure::UnknownRelocation;
        }
        if (!inSegment(relocation.r_offset, sizeof result, Access::Any))
            return MapFailure::BadDynamic;
        std::memcpy(reinterpret_cast<void*>(relocation.r_offset + bias_), &result, sizeof result);
    }
    return MapFailure::None;
}

MapFailure MappedLibrary::protect()
{
    const std::uint64_t page = pageSize_;
    std::uint64_t cursor = preferredBase_;
    auto change = [this](std::uint64_t from, std::uint64_t to, int protection) {
        return to <= from ||
               mprotect(reinterpret_cast<void*>(from + bias_), static_cast<std::size_t>(to - from), protection) == 0;
    };
    for (const Segment& segment : segments_) {
        const std::uint64_t start = pageFloor(segment.address, page);
        std::uint64_t end = 0;
        pageCeil(segment.address + segment.memorySize, page, end);
        // The pages between segments stay reserved but can be neither read nor run.
        if (!change(cursor, start, PROT_NONE) || !change(start, end, protectionOf(segment.flags)))
            return MapFailure::ProtectionRefused;
        cursor = end;
    }
    // What had to be written only while relocating becomes read-only.
    if (relroRegion_.size != 0) {
        const std::uint64_t start = pageFloor(relroRegion_.address, page);
        const std::uint64_t end = pageFloor(relroRegion_.address + relroRegion_.size, page);
        if (!change(start, end, PROT_READ))
            return MapFailure::ProtectionRefused;
    }
    return MapFailure::None;
}

bool MappedLibrary::readRoutineArray(const Region& array, std::vector<std::uint64_t>& addresses) const
{
    for (std::uint64_t i = 0; i < array.size / sizeof(std::uint64_t); ++i) {
        std::uint64_t address = 0;
        if (!read(array.address + i * sizeof address, address))
            return false;
        if (address != kSkippedRoutine && address != kSkippedRoutineToo)
            addresses.push_back(address);
    }
    return true;
}

MapFailure MappedLibrary::collectRoutines()
{
    // DT_INIT runs before the array; on the way out the array runs backwards, then DT_FINI.
    std::vector<std::uint64_t> starts;
    if (dynamic_.init != 0)
        starts.push_back(dynamic_.init + bias_);
    if (!readRoutineArray(dynamic_.initArray, starts))
        return MapFailure::BadDynamic;
    std::vector<std::uint64_t> ends;
    if (!readRoutineArray(dynamic_.finiArray, ends))
        return MapFailure::BadDynamic;
    std::reverse(ends.begin(), ends.end());
    if (dynamic_.fini != 0)
        ends.push_back(dynamic_.fini + bias_);
    // Every routine must start in code of the image before any of them runs.
    auto convert = [this](const std::vector<std::uint64_t>& addresses, std::vector<Routine>& routines) {
        for (std::uint64_t address : addresses) {
            if (!inSegment(address - bias_, 1, Access::Executable))
                return false;
            routines.push_back(reinterpret_cast<Routine>(static_cast<std::uintptr_t>(address)));
        }
        return true;
    };
    if (!convert(starts, initialisers_) || !convert(ends, finalisers_))
        return MapFailure::BadDynamic;
    return MapFailure::None;
}

void MappedLibrary::runFinalisers()
{
    for (Routine routine : finalisers_)
        routine();
}

void* MappedLibrary::exportedAddress(std::uint32_t index, std::string_view name) const
{
    Elf64_Sym symbol;
    if (!read(dynamic_.symbols + std::uint64_t{index} * sizeof symbol, symbol))
        return nullptr;
    const unsigned type = ELF64_ST_TYPE(symbol.st_info);
    const unsigned binding = ELF64_ST_BIND(symbol.st_info);
    // An export is code or data of the image itself, never an absolute value.
    if (symbol.st_shndx == SHN_UNDEF || symbol.st_shndx == SHN_ABS || (binding != STB_GLOBAL && binding != STB_WEAK))
        return nullptr;
    if (type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE)
        return nullptr;
    if (ELF64_ST_VISIBILITY(symbol.st_other) == STV_HIDDEN || ELF64_ST_VISIBILITY(symbol.st_other) == STV_INTERNAL)
        return nullptr;
    const char* symbolName = nameAt(symbol.st_name);
    if (symbolName == nullptr || name != symbolName)
        return nullptr;
    const Access access = type == STT_FUNC ? Access::Executable : Access::Any;
    if (!inSegment(symbol.st_value, 1, access))
        return nullptr;
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(symbol.st_value + bias_));
}

void* MappedLibrary::findThroughGnuHash(std::string_view name) const
{
    struct {
        std::uint32_t buckets;
        std::uint32_t firstHashed;
        std::uint32_t filterWords;
        std::uint32_t filterShift;
    } header;
    const std::uint64_t table = dynamic_.gnuHash;
    if (!read(table, header) || header.buckets == 0)
        return nullptr;
    const std::uint32_t hash = gnuHash(name);
    const std::uint64_t buckets = table + sizeof header + std::uint64_t{header.filterWords} * sizeof(std::uint64_t);
    const std::uint64_t chains = buckets + std::uint64_t{header.buckets} * sizeof(std::uint32_t);
    std::uint32_t index = 0;
    if (!read(buckets + std::uint64_t{hash % header.buckets} * sizeof index, index) || index < header.firstHashed)
        return nullptr;
    // Each step reads one entry further on, so the chain ends where the table does.
    for (;; ++index) {
        std::uint32_t chained = 0;
        if (!read(chains + (std::uint64_t{index} - header.firstHashed) * sizeof chained, chained))
            return nullptr;
        if ((chained | 1u) == (hash | 1u)) {
            if (void* found = exportedAddress(index, name))
                return found;
        }
        if ((chained & 1u) != 0 || index == UINT32_MAX)
            return nullptr;
    }
}

void* MappedLibrary::findThroughHash(std::string_view name) const
{
    struct {
        std::uint32_t buckets;
        std::uint32_t chains;
    } header;
    const std::uint64_t table = dynamic_.hash;
    if (!read(table, header) || header.buckets == 0)
        return nullptr;
    const std::uint64_t buckets = table + sizeof header;
    const std::uint64_t chains = buckets + std::uint64_t{header.buckets} * sizeof(std::uint32_t);
    // A chain that loops is cut after as many steps as there are symbols; the
    // whole chain array must be in the image, so that is bounded too.
    if (!inSegment(chains, std::uint64_t{header.chains} * sizeof(std::uint32_t), Access::Readable))
        return nullptr;
    std::uint32_t index = 0;
    if (!read(buckets + std::uint64_t{elfHash(name) % header.buckets} * sizeof index, index))
        return nullptr;
    for (std::uint32_t step = 0; index != STN_UNDEF && index < header.chains && step < header.chains; ++step) {
        if (void* found = exportedAddress(index, name))
            return found;
        read(chains + std::uint64_t{index} * sizeof index, index);
    }
    return nullptr;
}

void* MappedLibrary::findExport(std::string_view name) const
{
    if (dynamic_.gnuHash != 0)
        return findThroughGnuHash(name);
    return findThroughHash(name);
}

}  // namespace qinghe
