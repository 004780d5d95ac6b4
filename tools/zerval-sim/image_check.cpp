#include "image_check.h"

#include <cstdio>

namespace {

std::string Hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

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

std::vector<std::string> CheckImage(const pe::Image &image)
{
    if (image.machine != pe::kMachineI386) {
        const char *name = MachineName(image.machine);
        throw pe::BadImage(std::string("built for ") + (name ? name : "an unknown machine") + " (machine " +
                           Hex(image.machine) + "), not i386 (0x14c)");
    }
    if (image.subsystem != pe::kSubsystemNative)
        throw pe::BadImage("not a native driver (subsystem " + std::to_string(image.subsystem) +
                           ", a kernel-mode driver has 1)");
    if (image.sizeOfImage == 0 || image.sizeOfImage > kLargestImage)
        throw pe::BadImage("SizeOfImage " + Hex(image.sizeOfImage) + " is outside 0x1 to " + Hex(kLargestImage) +
                           ", what the simulation loads");
    for (const pe::Section &s : image.sections)
        if (s.virtualAddress > image.sizeOfImage || std::max(s.virtualSize, s.rawSize) > image.sizeOfImage - s.virtualAddress)
            throw pe::BadImage("section " + s.name + " (RVA " + Hex(s.virtualAddress) + ") ends beyond SizeOfImage " +
                               Hex(image.sizeOfImage));
    std::vector<std::string> warnings;
    const uint32_t sum = pe::ComputeChecksum(image.bytes, image.checksumOffset);
    if (image.checksum != sum)
        warnings.push_back("checksum " + Hex(image.checksum) + " in the optional header (offset " +
                           Hex(image.checksumOffset) + ") is wrong, the file sums to " + Hex(sum) +
                           "; the kernel refuses such a driver at boot");
    return warnings;
}
