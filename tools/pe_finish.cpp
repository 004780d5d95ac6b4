// pe-finish IMAGE: the last step of the driver's link.  ld cannot mark a
// section non-paged and leaves the checksum 0; this marks .biosdll
// IMAGE_SCN_MEM_NOT_PAGED and writes the checksum the kernel checks.
#include <cstdio>
#include <fstream>

#include "pe_image.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pe-finish IMAGE\n");
        return 2;
    }
    try {
        pe::Image img = pe::Load(argv[1]);
        const pe::Section *biosdll = img.section(".biosdll");
        if (biosdll == nullptr)
            throw pe::BadImage("no .biosdll section");
        const uint32_t flags = biosdll->characteristics | pe::kScnNotPaged;
        for (int i = 0; i < 4; ++i)
            img.bytes[biosdll->headerOffset + 36 + i] = static_cast<uint8_t>(flags >> (8 * i));
        const uint32_t sum = pe::ComputeChecksum(img.bytes, img.checksumOffset);
        for (int i = 0; i < 4; ++i)
            img.bytes[img.checksumOffset + i] = static_cast<uint8_t>(sum >> (8 * i));
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(img.bytes.data()), static_cast<std::streamsize>(img.bytes.size()));
        if (!out)
            throw pe::BadImage(std::string("cannot write ") + argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "pe-finish: %s\n", e.what());
        return 1;
    }
    return 0;
}
