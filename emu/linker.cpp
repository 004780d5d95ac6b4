#include "linker.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace emu {

namespace {

uint32_t Perms(uint32_t characteristics)
{
    uint32_t p = 0;
    if (characteristics & pe::kScnRead)
        p |= UC_PROT_READ;
    if (characteristics & pe::kScnWrite)
        p |= UC_PROT_WRITE;
    if (characteristics & pe::kScnExecute)
        p |= UC_PROT_EXEC;
    return p;
}

// The machines a PE file may be built for, named in a refusal.
const char *MachineName(uint16_t machine)
{
    switch (machine) {
    case 0x8664: return "x86-64";
    case 0x0200: return "IA-64";
    case 0x01C0: return "ARM";
    case 0x01C4: return "ARM Thumb-2";
    case 0xAA64: return "ARM64";
    case 0x0166: return "MIPS";
    case 0x01F0: return "PowerPC";
    case 0x0184: return "Alpha";
    case 0x5032: return "RISC-V 32";
    case 0x5064: return "RISC-V 64";
    default: return nullptr;
    }
}

} // namespace

void CheckEngine(int ucErr, const std::string &what)
{
    if (ucErr != UC_ERR_OK)
        throw Error("emulator: " + what + ": " + uc_strerror(static_cast<uc_err>(ucErr)));
}

std::optional<uint32_t> LoadedImage::exportAddress(const std::string &name) const
{
    if (name == "DriverEntry")
        return base + image->entryRva;
    if (const pe::Export *e = image->exported(name))
        return base + e->rva;
    return std::nullopt;
}

std::optional<std::string> LoadedImage::exportAt(uint32_t address) const
{
    for (const pe::Export &e : image->exports)
        if (base + e.rva == address)
            return e.name;
    if (base + image->entryRva == address)
        return std::string("DriverEntry");
    return std::nullopt;
}

void CheckLoadable(const pe::Image &image)
{
    if (image.machine != pe::kMachineI386) {
        const char *name = MachineName(image.machine);
        throw Error(std::string("built for ") + (name ? name : "an unknown machine") + " (machine " +
                    pe::Hex(image.machine) + "), not i386 (" + pe::Hex(pe::kMachineI386) + ")");
    }
    if (image.subsystem != pe::kSubsystemNative)
        throw Error("not a native driver (subsystem " + std::to_string(image.subsystem) + ", a kernel-mode driver has " +
                    std::to_string(pe::kSubsystemNative) + ")");
    // Everything the loader writes lies inside the image (checked without
    // wrapping past 4 GiB).
    if (image.sizeOfImage == 0 || image.sizeOfImage > kLargestImage)
        throw Error("SizeOfImage " + pe::Hex(image.sizeOfImage) + " is outside 0x1 to " + pe::Hex(kLargestImage) +
                    ", what the simulation loads");
    const uint32_t size = MappedSize(image);
    for (const pe::Section &s : image.sections) {
        const uint32_t bytes = std::max(s.virtualSize, s.rawSize);
        if (uint64_t(s.virtualAddress) + bytes > size)
            throw Error("section " + pe::Printable(s.name) + " (RVA " + pe::Hex(s.virtualAddress) + ", " +
                        pe::Hex(bytes) + " bytes) lies outside the image (SizeOfImage " + pe::Hex(image.sizeOfImage) +
                        ")");
    }
    for (uint32_t rva : image.relocations)
        if (uint64_t(rva) + 4 > size)
            throw Error("a base relocation at RVA " + pe::Hex(rva) + " lies outside the image");
    for (const pe::Import &i : image.imports)
        if (uint64_t(i.iatRva) + 4 > size)
            throw Error("the import address of " + pe::Printable(i.name) + " lies outside the image");
}

void WriteImage(uc_struct *uc, const pe::Image &image, uint32_t base)
{
    // Composed here and handed to the engine in one write: each write the
    // engine takes costs as much as a page of bytes.
    const uint32_t size = MappedSize(image);
    std::vector<uint8_t> mapped(size, 0);
    const uint32_t headers =
        std::min<uint32_t>({image.sizeOfHeaders, size, static_cast<uint32_t>(image.bytes.size())});
    std::copy_n(image.bytes.begin(), headers, mapped.begin());
    for (const pe::Section &s : image.sections)
        if (s.rawSize != 0)
            std::copy_n(image.bytes.begin() + s.rawOffset, s.rawSize, mapped.begin() + s.virtualAddress);
    const uint32_t delta = base - image.imageBase;
    for (uint32_t rva : image.relocations) {
        uint32_t v = 0;
        std::memcpy(&v, &mapped[rva], 4);
        v += delta;
        std::memcpy(&mapped[rva], &v, 4);
    }
    CheckEngine(uc_mem_write(uc, base, mapped.data(), size), "write image");
}

std::vector<uint32_t> PageProtections(const pe::Image &image)
{
    std::vector<uint32_t> perms(MappedSize(image) / kPage, UC_PROT_READ);
    for (const pe::Section &s : image.sections) {
        const uint32_t n = RoundUp(std::max(s.virtualSize, s.rawSize), kPage);
        for (uint32_t page = s.virtualAddress / kPage; page < (s.virtualAddress + n) / kPage && page < perms.size(); ++page)
            perms[page] = Perms(s.characteristics);
    }
    return perms;
}

std::string ExportsOf(const pe::Image &image)
{
    if (image.exports.empty())
        return "it exports nothing";
    std::string names;
    for (const pe::Export &e : image.exports)
        names += (names.empty() ? "" : ", ") + pe::Printable(e.name);
    return "it exports " + names;
}

bool SameModule(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace emu
