#include "image_check.h"

#include "linker.h"

std::vector<std::string> CheckImage(const pe::Image &image)
{
    emu::CheckLoadable(image);
    std::vector<std::string> warnings;
    const uint32_t sum = pe::ComputeChecksum(image.bytes, image.checksumOffset);
    if (image.checksum != sum)
        warnings.push_back("checksum " + pe::Hex(image.checksum) + " in the optional header (offset " +
                           pe::Hex(image.checksumOffset) + ") is wrong, the file sums to " + pe::Hex(sum) +
                           "; the kernel refuses such a driver at boot");
    return warnings;
}
