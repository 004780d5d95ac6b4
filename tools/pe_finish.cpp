// pe-finish IMAGE: the last step of the driver's link.  ld cannot mark a
// section non-paged and leaves the checksum 0; this marks .biosdll
// IMAGE_SCN_MEM_NOT_PAGED, gives an image whose linker left its
// TimeDateStamp 0 (ld with --no-insert-timestamp) a stamp derived from its
// contents, and writes the checksum the kernel checks.
//
// The stamp is what a symbol store files an image under (with SizeOfImage):
// the same sources give the same bytes and so the same stamp, and two builds
// that differ get different stamps.  A linker that already wrote one
// (lld-link /Brepro: a hash of its output) keeps it.
#include <cstdio>
#include <fstream>
#include <string>

#include "image_tool.h"
#include "pe_image.h"

namespace {

uint32_t ReadU32(const std::vector<uint8_t> &b, uint32_t off)
{
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (uint32_t(b[off + 3]) << 24);
}

void WriteU32(std::vector<uint8_t> &b, uint32_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// 32-bit FNV-1a over the file, the stamp's and the checksum's four bytes
// each read as zero; never 0 itself, which means "no stamp".
uint32_t ContentStamp(const std::vector<uint8_t> &b, uint32_t stampOffset, uint32_t checksumOffset)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < b.size(); ++i) {
        const bool skipped = (i >= stampOffset && i < stampOffset + 4) || (i >= checksumOffset && i < checksumOffset + 4);
        h = (h ^ (skipped ? 0u : b[i])) * 16777619u;
    }
    return h == 0 ? 1 : h;
}

} // namespace

int main(int argc, char **argv)
{
    return RunImageTool("pe-finish", argc, argv, [](const char *path) {
        pe::Image img = pe::Load(path);
        const pe::Section *biosdll = img.section(".biosdll");
        if (biosdll == nullptr)
            throw pe::BadImage("no .biosdll section");
        WriteU32(img.bytes, biosdll->headerOffset + 36, biosdll->characteristics | pe::kScnNotPaged);
        // The COFF header follows the PE signature, whose offset is at 0x3c;
        // TimeDateStamp is its third field.  Parse() has read both.
        const uint32_t stampOffset = ReadU32(img.bytes, 0x3C) + 4 + 4;
        if (ReadU32(img.bytes, stampOffset) == 0)
            WriteU32(img.bytes, stampOffset, ContentStamp(img.bytes, stampOffset, img.checksumOffset));
        WriteU32(img.bytes, img.checksumOffset, pe::ComputeChecksum(img.bytes, img.checksumOffset));
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(img.bytes.data()), static_cast<std::streamsize>(img.bytes.size()));
        if (!out)
            throw pe::BadImage(std::string("cannot write ") + path);
        return 0;
    });
}
