#pragma once

// The skin library's image as bytes a test can take apart and spoil, read
// with the system's ELF definitions independently of the loader under test.

#include "skin/embedded_skin.h"
#include "skin/skin_file_format.h"

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

class SkinImage {
public:
    SkinImage() : bytes_(qinghe::skinLibraryImage().begin(), qinghe::skinLibraryImage().end()) {}

    std::vector<std::uint8_t>& bytes() { return bytes_; }

    Elf64_Ehdr& header() { return *reinterpret_cast<Elf64_Ehdr*>(bytes_.data()); }

    Elf64_Phdr& programHeader(int i)
    {
        return *reinterpret_cast<Elf64_Phdr*>(bytes_.data() + header().e_phoff + i * sizeof(Elf64_Phdr));
    }

    Elf64_Phdr* firstOfType(std::uint32_t type, std::uint32_t flags = 0)
    {
        for (int i = 0; i < header().e_phnum; ++i) {
            Elf64_Phdr& entry = programHeader(i);
            if (entry.p_type == type && (entry.p_flags & flags) == flags)
                return &entry;
        }
        return nullptr;
    }

    // Where in the file the byte linked at address lies; 0 when no segment holds it.
    std::uint64_t fileOffset(std::uint64_t address)
    {
        for (int i = 0; i < header().e_phnum; ++i) {
            const Elf64_Phdr& entry = programHeader(i);
            if (entry.p_type == PT_LOAD && address >= entry.p_vaddr && address < entry.p_vaddr + entry.p_filesz)
                return entry.p_offset + (address - entry.p_vaddr);
        }
        return 0;
    }

    // The end of the last byte any loadable segment takes from the file.
    std::uint64_t loadedEnd()
    {
        std::uint64_t end = 0;
        for (int i = 0; i < header().e_phnum; ++i) {
            const Elf64_Phdr& entry = programHeader(i);
            if (entry.p_type == PT_LOAD)
                end = std::max<std::uint64_t>(end, entry.p_offset + entry.p_filesz);
        }
        return end;
    }

    Elf64_Dyn* dynamicEntry(std::int64_t tag)
    {
        Elf64_Phdr* dynamic = firstOfType(PT_DYNAMIC);
        auto* entry = reinterpret_cast<Elf64_Dyn*>(bytes_.data() + dynamic->p_offset);
        for (; entry->d_tag != DT_NULL; ++entry) {
            if (entry->d_tag == tag)
                return entry;
        }
        return nullptr;
    }

    Elf64_Rela& relocation(std::int64_t tableTag, int i)
    {
        const std::uint64_t table = fileOffset(dynamicEntry(tableTag)->d_un.d_ptr);
        return *reinterpret_cast<Elf64_Rela*>(bytes_.data() + table + i * sizeof(Elf64_Rela));
    }

    int relocationCount(std::int64_t sizeTag)
    {
        return static_cast<int>(dynamicEntry(sizeTag)->d_un.d_val / sizeof(Elf64_Rela));
    }

    // The first relocation of kind in the ordinary table, or null.
    Elf64_Rela* firstRelocation(std::uint32_t kind)
    {
        for (int i = 0; i < relocationCount(DT_RELASZ); ++i) {
            Elf64_Rela& entry = relocation(DT_RELA, i);
            if (ELF64_R_TYPE(entry.r_info) == kind)
                return &entry;
        }
        return nullptr;
    }

    Elf64_Sym& symbol(std::uint32_t index)
    {
        const std::uint64_t table = fileOffset(dynamicEntry(DT_SYMTAB)->d_un.d_ptr);
        return *reinterpret_cast<Elf64_Sym*>(bytes_.data() + table + index * sizeof(Elf64_Sym));
    }

    // Index of the dynamic symbol by that name; 0 when there is none.
    std::uint32_t symbolIndex(std::string_view name)
    {
        const std::uint64_t strings = fileOffset(dynamicEntry(DT_STRTAB)->d_un.d_ptr);
        const std::uint32_t count = *reinterpret_cast<const std::uint32_t*>(
            bytes_.data() + fileOffset(dynamicEntry(DT_HASH)->d_un.d_ptr) + sizeof(std::uint32_t));
        for (std::uint32_t i = 1; i < count; ++i) {
            if (name == reinterpret_cast<const char*>(bytes_.data() + strings + symbol(i).st_name))
                return i;
        }
        return 0;
    }

    // Replaces a name in the dynamic string table by another of the same length.
    bool renameString(std::string_view from, std::string_view to)
    {
        const Elf64_Dyn* strings = dynamicEntry(DT_STRTAB);
        const std::uint64_t start = fileOffset(strings->d_un.d_ptr);
        const std::uint64_t size = dynamicEntry(DT_STRSZ)->d_un.d_val;
        std::string_view table(reinterpret_cast<const char*>(bytes_.data() + start), size);
        std::string wanted(from);
        wanted.push_back('\0');
        const std::size_t at = table.find(wanted);
        if (at == std::string_view::npos || from.size() != to.size())
            return false;
        std::memcpy(bytes_.data() + start + at, to.data(), to.size());
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

// The colour of every role as the skin file gives it, in role order.
inline std::vector<std::uint32_t> skinFileColours()
{
    const auto file = qinghe::programSkinFile();
    const std::uint32_t count = file[16] | file[17] << 8;
    std::vector<std::uint32_t> colours(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = file.data() + kSkinHeaderSize + i * kSkinEntrySize;
        colours.at(entry[0]) = std::uint32_t{entry[2]} << 16 | std::uint32_t{entry[3]} << 8 | entry[4];
    }
    return colours;
}

// The process's memory map as lines, to compare before and after.
inline std::vector<std::string> memoryMap()
{
    std::ifstream maps("/proc/self/maps");
    std::vector<std::string> lines;
    for (std::string line; std::getline(maps, line);)
        lines.push_back(line);
    return lines;
}

// The address ranges and protections of the mappings inside [from, to).
inline std::set<std::string> mappingsWithin(std::uintptr_t from, std::uintptr_t to)
{
    std::set<std::string> found;
    for (const std::string& line : memoryMap()) {
        std::istringstream fields(line);
        std::string range, protection;
        fields >> range >> protection;
        const std::uintptr_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        if (start >= from && start < to)
            found.insert(range + " " + protection);
    }
    return found;
}

// Anonymous mappings that may run code: only a leftover image would make one.
inline int anonymousCode()
{
    int count = 0;
    for (const std::string& line : memoryMap()) {
        std::istringstream fields(line);
        std::string range, protection, offset, device, inode, path;
        fields >> range >> protection >> offset >> device >> inode >> path;
        if (protection.find('x') != std::string::npos && path.empty())
            ++count;
    }
    return count;
}
