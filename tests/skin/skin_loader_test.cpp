// The loader against the real skin library image: where it maps it, how it
// protects it, that a relocated copy behaves as the original, and that every
// spoilt image fails without leaving anything behind.

#include "skin_image.h"

#include "skin/embedded_skin.h"
#include "skin/mapped_library.h"
#include "skin/skin_abi.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <sstream>

using namespace qinghe;

namespace {

std::vector<std::uint32_t> painted;

constexpr std::uintptr_t kPreferredBase = 0x10000000;
// The loader refuses anything larger, so no leftover of it can lie beyond this.
constexpr std::uintptr_t kLargestSpan = 16u << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

struct Exports {
    SkinAttachFunction* attach = nullptr;
    SkinAdjustFunction* adjust = nullptr;
};

Exports exportsOf(const MappedLibrary& library)
{
    return {reinterpret_cast<SkinAttachFunction*>(library.findExport(SKIN_ATTACH_EXPORT)),
            reinterpret_cast<SkinAdjustFunction*>(library.findExport(SKIN_ADJUST_EXPORT))};
}

// Attaches the program's skin through the mapped library and says whether the
// library painted exactly the file's colours.
bool paintsTheSkinFile(const MappedLibrary& library)
{
    const Exports found = exportsOf(library);
    if (found.attach == nullptr)
        return false;
    painted.clear();
    const auto file = programSkinFile();
    return found.attach(file.data(), static_cast<std::uint32_t>(file.size()), nullptr) == 1 &&
           painted == skinFileColours();
}

// The protection letters of the mapping that holds address, empty when none does.
std::string protectionAt(std::uintptr_t address)
{
    for (const std::string& line : memoryMap()) {
        const std::size_t dash = line.find('-');
        const std::size_t space = line.find(' ');
        const std::uintptr_t start = std::stoull(line.substr(0, dash), nullptr, 16);
        const std::uintptr_t end = std::stoull(line.substr(dash + 1, space - dash - 1), nullptr, 16);
        if (address >= start && address < end)
            return line.substr(space + 1, 4);
    }
    return {};
}

// Mappings that could be left over from a failed mapping: everything but the
// heap, which the test's own strings move.
std::vector<std::string> mappingsBesidesHeap()
{
    std::vector<std::string> lines = memoryMap();
    std::erase_if(lines, [](const std::string& line) { return line.find("[heap]") != std::string::npos; });
    return lines;
}

// Holds the preferred base, as another library of the process might.
class TakenPreferredBase {
public:
    TakenPreferredBase()
        : size_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))),
          at_(mmap(reinterpret_cast<void*>(kPreferredBase), size_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0))
    {
        if (held())
            std::memset(at_, 0x5A, size_);
    }
    ~TakenPreferredBase()
    {
        if (at_ != MAP_FAILED)
            munmap(at_, size_);
    }
    bool held() const { return at_ == reinterpret_cast<void*>(kPreferredBase); }
    bool untouched() const
    {
        const auto* bytes = static_cast<const std::uint8_t*>(at_);
        return std::all_of(bytes, bytes + size_, [](std::uint8_t b) { return b == 0x5A; });
    }

private:
    std::size_t size_;
    void* at_;
};

}  // namespace

// The library calls back into the program; here the test stands in for it.
extern "C" __attribute__((visibility("default"))) void qingheSkinPaint(const std::uint32_t* colours, int count)
{
    painted.assign(colours, colours + count);
}

TEST(SkinLoader, MapsAtThePreferredBaseWithEachSegmentProtectedByItsFlags)
{
    SkinImage image;
    MapResult result = MappedLibrary::map(skinLibraryImage());
    ASSERT_EQ(result.failure, MapFailure::None);
    ASSERT_NE(result.library, nullptr);
    const MappedLibrary& library = *result.library;
    EXPECT_EQ(library.preferredBase(), kPreferredBase);
    EXPECT_EQ(library.base(), kPreferredBase);
    EXPECT_TRUE(library.initialised());
    EXPECT_TRUE(paintsTheSkinFile(library));

    // Headers read-only, code read and run, what was relocated read-only again, data read and write.
    const Elf64_Phdr* data = image.firstOfType(PT_LOAD, PF_W);
    const Elf64_Phdr* relro = image.firstOfType(PT_GNU_RELRO);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(relro, nullptr);
    EXPECT_EQ(protectionAt(library.base()), "r--p");
    EXPECT_EQ(protectionAt(reinterpret_cast<std::uintptr_t>(library.findExport(SKIN_ATTACH_EXPORT))), "r-xp");
    EXPECT_EQ(protectionAt(relro->p_vaddr), "r--p");
    EXPECT_EQ(protectionAt(data->p_vaddr + data->p_memsz - 1), "rw-p");
    const std::set<std::string> mappings = mappingsWithin(library.base(), library.base() + library.mappedSize());
    EXPECT_FALSE(mappings.empty());
    for (const std::string& mapping : mappings)
        EXPECT_FALSE(mapping.find('w') != std::string::npos && mapping.find('x') != std::string::npos) << mapping;

    result.library.reset();
    EXPECT_TRUE(mappingsWithin(kPreferredBase, kPreferredBase + kLargestSpan).empty());
}

TEST(SkinLoader, MapsElsewhereWhenThePreferredBaseIsTakenAndBehavesTheSame)
{
    std::vector<std::uint32_t> shiftedRelocated;
    {
        TakenPreferredBase taken;
        ASSERT_TRUE(taken.held());
        MapResult result = MappedLibrary::map(skinLibraryImage());
        ASSERT_EQ(result.failure, MapFailure::None);
        const MappedLibrary& library = *result.library;
        EXPECT_EQ(library.preferredBase(), kPreferredBase);
        EXPECT_NE(library.base(), kPreferredBase);
        EXPECT_EQ(library.base() % sysconf(_SC_PAGESIZE), 0u);
        EXPECT_TRUE(paintsTheSkinFile(library));
        // The shift goes through the library's table of routines, which only
        // works once its addresses have been moved with the image.
        ASSERT_EQ(exportsOf(library).adjust(120, -40), 1);
        shiftedRelocated = painted;
        EXPECT_NE(shiftedRelocated, skinFileColours());
        EXPECT_TRUE(taken.untouched());
    }
    MapResult original = MappedLibrary::map(skinLibraryImage());
    ASSERT_EQ(original.failure, MapFailure::None);
    EXPECT_EQ(original.library->base(), kPreferredBase);
    ASSERT_TRUE(paintsTheSkinFile(*original.library));
    ASSERT_EQ(exportsOf(*original.library).adjust(120, -40), 1);
    EXPECT_EQ(painted, shiftedRelocated);
}

TEST(SkinLoader, TwoCopiesLiveSideBySideEachWithItsOwnState)
{
    MapResult first = MappedLibrary::map(skinLibraryImage());
    MapResult second = MappedLibrary::map(skinLibraryImage());
    ASSERT_NE(first.library, nullptr);
    ASSERT_NE(second.library, nullptr);
    EXPECT_EQ(first.library->base(), kPreferredBase);
    EXPECT_NE(second.library->base(), kPreferredBase);
    ASSERT_TRUE(paintsTheSkinFile(*first.library));
    // Nothing was attached to the second copy, so it has nothing to adjust.
    EXPECT_EQ(exportsOf(*second.library).adjust(10, 10), 0);
    EXPECT_EQ(exportsOf(*first.library).adjust(10, 10), 1);
}

TEST(SkinLoader, RunsTheInitialisersBeforeTheFirstCall)
{
    MapOptions withoutInitialisers;
    withoutInitialisers.runInitialisers = false;
    MapResult bare = MappedLibrary::map(skinLibraryImage(), std::move(withoutInitialisers));
    ASSERT_NE(bare.library, nullptr);
    EXPECT_FALSE(bare.library->initialised());
    // The library's checksum table is built by its initialiser; without it every skin is refused.
    EXPECT_FALSE(paintsTheSkinFile(*bare.library));
    bare.library.reset();

    MapResult ready = MappedLibrary::map(skinLibraryImage());
    ASSERT_NE(ready.library, nullptr);
    EXPECT_TRUE(ready.library->initialised());
    EXPECT_TRUE(paintsTheSkinFile(*ready.library));
}

TEST(SkinLoader, FindsExportsThroughEitherHashTableAndNothingElse)
{
    for (std::int64_t dropped : {std::int64_t{DT_NULL}, std::int64_t{DT_GNU_HASH}, std::int64_t{DT_HASH}}) {
        SkinImage image;
        // A tag the loader passes over, so the table is there but not named.
        if (dropped != DT_NULL)
            image.dynamicEntry(dropped)->d_tag = DT_DEBUG;
        MapResult result = MappedLibrary::map(image.bytes());
        ASSERT_EQ(result.failure, MapFailure::None) << dropped;
        const MappedLibrary& library = *result.library;
        EXPECT_TRUE(paintsTheSkinFile(library)) << dropped;
        EXPECT_NE(exportsOf(library).adjust, nullptr) << dropped;
        for (const char* absent : {"", "skin_attach", "skin_attach_res_", "qingheSkinPaint", "memchr", "buildCrcTable"})
            EXPECT_EQ(library.findExport(absent), nullptr) << dropped << " " << absent;
    }
    SkinImage neither;
    neither.dynamicEntry(DT_GNU_HASH)->d_tag = DT_DEBUG;
    neither.dynamicEntry(DT_HASH)->d_tag = DT_DEBUG;
    EXPECT_EQ(MappedLibrary::map(neither.bytes()).failure, MapFailure::BadDynamic);
}

TEST(SkinLoader, AppliesAbsoluteRelocationsAgainstItsOwnSymbols)
{
    // Every relative relocation rewritten as "symbol plus addend" against
    // skin_attach_res gives the same addresses, so the library must still work.
    SkinImage image;
    const std::uint32_t anchor = image.symbolIndex(SKIN_ATTACH_EXPORT);
    ASSERT_NE(anchor, 0u);
    const std::uint64_t anchorValue = image.symbol(anchor).st_value;
    int rewritten = 0;
    for (int i = 0; i < image.relocationCount(DT_RELASZ); ++i) {
        Elf64_Rela& entry = image.relocation(DT_RELA, i);
        if (ELF64_R_TYPE(entry.r_info) != R_X86_64_RELATIVE)
            continue;
        entry.r_info = ELF64_R_INFO(anchor, R_X86_64_64);
        entry.r_addend -= static_cast<std::int64_t>(anchorValue);
        ++rewritten;
    }
    ASSERT_GT(rewritten, 0);
    TakenPreferredBase taken;
    MapResult result = MappedLibrary::map(image.bytes());
    ASSERT_EQ(result.failure, MapFailure::None);
    EXPECT_NE(result.library->base(), kPreferredBase);
    EXPECT_TRUE(paintsTheSkinFile(*result.library));
    EXPECT_EQ(exportsOf(*result.library).adjust(60, 20), 1);
}

struct Spoilt {
    const char* what;
    std::function<void(SkinImage&)> spoil;
    MapFailure expected;
};

void PrintTo(const Spoilt& spoilt, std::ostream* out)
{
    *out << spoilt.what;
}

class SpoiltImage : public testing::TestWithParam<Spoilt> {};

TEST_P(SpoiltImage, FailsWithItsReasonAndLeavesNothingBehind)
{
    SkinImage image;
    GetParam().spoil(image);
    for (bool preferredTaken : {false, true}) {
        std::optional<TakenPreferredBase> taken;
        if (preferredTaken)
            taken.emplace();
        const std::vector<std::string> before = mappingsBesidesHeap();
        const int codeBefore = anonymousCode();
        MapResult result = MappedLibrary::map(image.bytes());
        EXPECT_EQ(result.failure, GetParam().expected);
        EXPECT_EQ(result.library, nullptr);
        EXPECT_EQ(anonymousCode(), codeBefore);
        // The allocator of the sanitizer maps memory of its own as it goes.
        if (!kUnderAddressSanitizer) {
            EXPECT_EQ(mappingsBesidesHeap(), before);
        }
        if (!preferredTaken) {
            EXPECT_TRUE(mappingsWithin(kPreferredBase, kPreferredBase + kLargestSpan).empty());
        }
    }
}

namespace {

Elf64_Phdr& codeSegment(SkinImage& image)
{
    return *image.firstOfType(PT_LOAD, PF_X);
}

// An address no segment of the image comes near.
constexpr std::uint64_t kFarAway = 0x70000000;

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    SkinLoader, SpoiltImage,
    testing::Values(
        Spoilt{"wrong magic", [](SkinImage& i) { i.bytes()[1] = 'X'; }, MapFailure::NotElf},
        Spoilt{"32-bit class", [](SkinImage& i) { i.bytes()[EI_CLASS] = ELFCLASS32; }, MapFailure::WrongClass},
        Spoilt{"big-endian", [](SkinImage& i) { i.bytes()[EI_DATA] = ELFDATA2MSB; }, MapFailure::NotElf},
        Spoilt{"another machine", [](SkinImage& i) { i.header().e_machine = EM_AARCH64; }, MapFailure::WrongMachine},
        Spoilt{"a program", [](SkinImage& i) { i.header().e_type = ET_EXEC; }, MapFailure::WrongMachine},
        Spoilt{"program headers past the end",
               [](SkinImage& i) { i.header().e_phoff = i.bytes().size() - sizeof(Elf64_Phdr) / 2; },
               MapFailure::BadHeaders},
        Spoilt{"program headers of another size", [](SkinImage& i) { i.header().e_phentsize = 32; },
               MapFailure::BadHeaders},
        Spoilt{"segment past the end", [](SkinImage& i) { codeSegment(i).p_offset = i.bytes().size(); },
               MapFailure::BadHeaders},
        Spoilt{"segment larger in the file than in memory",
               [](SkinImage& i) { codeSegment(i).p_filesz = codeSegment(i).p_memsz + 1; }, MapFailure::BadHeaders},
        Spoilt{"segments on one page",
               [](SkinImage& i) { codeSegment(i).p_vaddr = i.programHeader(0).p_vaddr; }, MapFailure::BadHeaders},
        Spoilt{"far too large", [](SkinImage& i) { i.firstOfType(PT_LOAD, PF_W)->p_memsz = 1u << 30; },
               MapFailure::BadHeaders},
        Spoilt{"thread-local storage", [](SkinImage& i) { i.firstOfType(PT_NOTE)->p_type = PT_TLS; },
               MapFailure::ThreadLocalStorage},
        Spoilt{"writable code", [](SkinImage& i) { codeSegment(i).p_flags |= PF_W; }, MapFailure::WritableCode},
        Spoilt{"text relocations", [](SkinImage& i) { i.dynamicEntry(DT_FLAGS)->d_un.d_val |= DF_TEXTREL; },
               MapFailure::WritableCode},
        Spoilt{"no dynamic table", [](SkinImage& i) { i.firstOfType(PT_DYNAMIC)->p_type = PT_NULL; },
               MapFailure::BadDynamic},
        Spoilt{"dynamic table without its end", [](SkinImage& i) { i.firstOfType(PT_DYNAMIC)->p_memsz = 32; },
               MapFailure::BadDynamic},
        Spoilt{"symbol table outside the image", [](SkinImage& i) { i.dynamicEntry(DT_SYMTAB)->d_un.d_ptr = kFarAway; },
               MapFailure::BadDynamic},
        Spoilt{"string table running past the image",
               [](SkinImage& i) { i.dynamicEntry(DT_STRSZ)->d_un.d_val = 1u << 20; }, MapFailure::BadDynamic},
        Spoilt{"relocations outside the image", [](SkinImage& i) { i.dynamicEntry(DT_RELA)->d_un.d_ptr = kFarAway; },
               MapFailure::BadDynamic},
        Spoilt{"relocations in pieces", [](SkinImage& i) { i.dynamicEntry(DT_RELASZ)->d_un.d_val -= 1; },
               MapFailure::BadDynamic},
        Spoilt{"relocation aimed outside the image",
               [](SkinImage& i) { i.firstRelocation(R_X86_64_RELATIVE)->r_offset = kFarAway; },
               MapFailure::BadDynamic},
        Spoilt{"relocation naming a symbol past the table",
               [](SkinImage& i) {
                   Elf64_Rela* entry = i.firstRelocation(R_X86_64_GLOB_DAT);
                   entry->r_info = ELF64_R_INFO(100000, R_X86_64_GLOB_DAT);
               },
               MapFailure::BadDynamic},
        Spoilt{"initialisers outside the image",
               [](SkinImage& i) { i.dynamicEntry(DT_INIT_ARRAY)->d_un.d_ptr = kFarAway; }, MapFailure::BadDynamic},
        Spoilt{"initialiser in the data",
               [](SkinImage& i) { i.dynamicEntry(DT_INIT)->d_un.d_ptr = i.firstOfType(PT_LOAD, PF_W)->p_vaddr; },
               MapFailure::BadDynamic},
        Spoilt{"an import that does not exist",
               [](SkinImage& i) { ASSERT_TRUE(i.renameString(SKIN_PAINT_SYMBOL, "qingheSkinPainX")); },
               MapFailure::MissingSymbol},
        Spoilt{"a library that does not exist",
               [](SkinImage& i) { ASSERT_TRUE(i.renameString("libc.so.6", "libq.so.6")); },
               MapFailure::MissingLibrary},
        Spoilt{"an unknown relocation kind",
               [](SkinImage& i) {
                   Elf64_Rela* entry = i.firstRelocation(R_X86_64_RELATIVE);
                   entry->r_info = ELF64_R_INFO(0, R_X86_64_TPOFF64);
               },
               MapFailure::UnknownRelocation},
        Spoilt{"a copy relocation",
               [](SkinImage& i) {
                   Elf64_Rela* entry = i.firstRelocation(R_X86_64_GLOB_DAT);
                   entry->r_info = ELF64_R_INFO(ELF64_R_SYM(entry->r_info), R_X86_64_COPY);
               },
               MapFailure::UnknownRelocation}),
    [](const testing::TestParamInfo<Spoilt>& info) {
        std::string name = info.param.what;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                        '_');
        return name;
    });

TEST(SkinLoader, AnImageCutShortFailsUntilEverySegmentIsWhole)
{
    SkinImage image;
    const std::uint64_t needed = image.loadedEnd();
    ASSERT_LT(needed, image.bytes().size());
    // Every length through the headers, then lengths spread over the segments.
    constexpr std::uint64_t kEveryByteUpTo = 512;
    constexpr std::uint64_t kStride = 61;
    std::vector<std::uint64_t> lengths;
    for (std::uint64_t length = 0; length < needed; length += length < kEveryByteUpTo ? 1 : kStride)
        lengths.push_back(length);
    lengths.push_back(needed - 1);
    const int codeBefore = anonymousCode();
    for (std::uint64_t length : lengths) {
        const MapResult result = MappedLibrary::map(std::span(image.bytes().data(), length));
        EXPECT_NE(result.failure, MapFailure::None) << length;
        EXPECT_EQ(result.library, nullptr) << length;
    }
    EXPECT_EQ(anonymousCode(), codeBefore);
    EXPECT_TRUE(mappingsWithin(kPreferredBase, kPreferredBase + kLargestSpan).empty());
    // Nothing past the segments is needed: the section headers are never read.
    MapResult whole = MappedLibrary::map(std::span(image.bytes().data(), needed));
    ASSERT_EQ(whole.failure, MapFailure::None);
    EXPECT_TRUE(paintsTheSkinFile(*whole.library));
}

TEST(SkinLoader, ALibraryOpenedForAFailedImageIsClosedAgain)
{
    // The image asks for a library this test program has not loaded; the
    // mapping then fails later on, and the library must be gone with it.
    constexpr const char* kUnloadedLibrary = "libz.so.1";
    if (dlopen(kUnloadedLibrary, RTLD_NOW | RTLD_NOLOAD) != nullptr)
        GTEST_SKIP() << kUnloadedLibrary << " is already part of this process";
    SkinImage image;
    ASSERT_TRUE(image.renameString("libc.so.6", kUnloadedLibrary));
    image.firstRelocation(R_X86_64_RELATIVE)->r_info = ELF64_R_INFO(0, R_X86_64_DTPMOD64);
    EXPECT_EQ(MappedLibrary::map(image.bytes()).failure, MapFailure::UnknownRelocation);
    EXPECT_EQ(dlopen(kUnloadedLibrary, RTLD_NOW | RTLD_NOLOAD), nullptr);

    // And the same library is kept while the image it served lives.
    SkinImage served;
    ASSERT_TRUE(served.renameString("libc.so.6", kUnloadedLibrary));
    MapResult result = MappedLibrary::map(served.bytes());
    ASSERT_EQ(result.failure, MapFailure::None);
    void* held = dlopen(kUnloadedLibrary, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(held, nullptr);
    if (held != nullptr)
        dlclose(held);
    result.library.reset();
    EXPECT_EQ(dlopen(kUnloadedLibrary, RTLD_NOW | RTLD_NOLOAD), nullptr);
}
