// Loading more images next to zerval.sys in the emulated machine: sibling
// drivers it imports from (kelv.sys, rmx.sys) and a display driver that
// imports it.  Each image is mapped at its own base away from its preferred
// one (so its relocations are applied), and imports are bound between images
// by module and name, functions and data alike.
#ifndef ZERVAL_EMU_LINKER_H
#define ZERVAL_EMU_LINKER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "pe_image.h"

struct uc_struct;

namespace emu {

// An image loaded next to the module, and the module name others import it
// by ("kelv.sys", "rmx.sys"; any name for a display driver).
struct Neighbour {
    std::string module;
    pe::Image image;
    std::string path = {};  // the file it was read from, for its debug information; empty: not known
};

// Where a loaded image lies in the guest.
struct LoadedImage {
    std::string module;
    const pe::Image *image = nullptr;
    uint32_t base = 0;
    uint32_t size = 0;  // mapped bytes
    std::string path = {};  // the file it was read from (Neighbour::path)

    bool contains(uint32_t address) const { return address >= base && address - base < size; }
    // The guest address of an export by name, or of the entry point by the
    // name "DriverEntry"; nothing when the image has no such export.
    std::optional<uint32_t> exportAddress(const std::string &name) const;
    // The export whose code starts at an address ("DriverEntry" for the entry).
    std::optional<std::string> exportAt(uint32_t address) const;
};

// The largest SizeOfImage the machine loads.
constexpr uint32_t kLargestImage = 16u << 20;

constexpr uint32_t kPage = 0x1000;
constexpr uint32_t RoundUp(uint32_t v, uint32_t to) { return (v + to - 1) / to * to; }
// The bytes an image takes in the guest: SizeOfImage in whole pages.
constexpr uint32_t MappedSize(const pe::Image &image) { return RoundUp(image.sizeOfImage, kPage); }

// Throws Error ("emulator: what: reason") when the engine reports a failure
// (a uc_err other than UC_ERR_OK).
void CheckEngine(int ucErr, const std::string &what);

// Refuses (Error, one printable line) an image that is not an i386
// native driver, or that would make the loader write outside it: SizeOfImage
// 0 or above kLargestImage, a section, base relocation or import address
// beyond SizeOfImage.
void CheckLoadable(const pe::Image &image);

// The engine's protection of each page of a loadable image, as its section's
// flags ask (the headers and what lies between sections read-only).
std::vector<uint32_t> PageProtections(const pe::Image &image);
// Writes a loadable image into its mapped pages at base (headers, sections)
// and applies its relocations.  Throws Error.
void WriteImage(uc_struct *uc, const pe::Image &image, uint32_t base);

// The bytes of arguments a stdcall function pops, from its decorated name
// ("_Attach@16" -> 16); nothing for an undecorated name.
constexpr std::optional<uint32_t> StdcallArgBytes(std::string_view name)
{
    const size_t at = name.rfind('@');
    if (at == std::string_view::npos || at + 1 == name.size())
        return std::nullopt;
    uint32_t bytes = 0;
    for (size_t i = at + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        bytes = bytes * 10 + static_cast<uint32_t>(name[i] - '0');
    }
    return bytes;
}
static_assert(StdcallArgBytes("_Attach@16") == 16u && !StdcallArgBytes("DriverEntry") && !StdcallArgBytes("_x@1a"));

// What an image exports, for a message: "it exports _AttachRMX@8,
// _S_RMX_Control@12" or "it exports nothing".
std::string ExportsOf(const pe::Image &image);

// Module names compare without regard to case, as the loader does.
bool SameModule(const std::string &a, const std::string &b);

} // namespace emu

#endif
