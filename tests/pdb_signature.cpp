#include "pdb_signature.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint32_t U32(const std::vector<uint8_t> &b, uint64_t off, const char *what)
{
    if (off + 4 > b.size())
        throw BadSignature(std::string(what) + ": offset " + std::to_string(off) + " lies past its " +
                           std::to_string(b.size()) + " bytes");
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (uint32_t(b[off + 3]) << 24);
}

// The optional header's data directories (PE32): after the 4-byte signature
// and the 20-byte COFF header, from offset 96; the debug directory is the
// seventh.
constexpr uint32_t kDebugDirectory = 6;
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kDebugTypeCodeView = 2;

constexpr char kMsfMagic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0";
constexpr uint32_t kMsfMagicSize = 32;
constexpr uint32_t kInfoStream = 1;
constexpr uint32_t kDbiStream = 3;

// One stream of an MSF file, gathered from its blocks.
std::vector<uint8_t> Stream(const std::vector<uint8_t> &pdb, uint32_t index)
{
    const uint32_t blockSize = U32(pdb, 32, "the PDB's superblock");
    const uint32_t directoryBytes = U32(pdb, 44, "the PDB's superblock");
    const uint32_t blockMap = U32(pdb, 52, "the PDB's superblock");
    if (blockSize == 0 || blockSize > 65536 || pdb.size() % blockSize != 0)
        throw BadSignature("the PDB's block size " + std::to_string(blockSize) + " does not divide its " +
                           std::to_string(pdb.size()) + " bytes");
    auto blocks = [&](uint64_t size) { return (size + blockSize - 1) / blockSize; };
    auto gather = [&](const std::vector<uint32_t> &list, uint64_t size, const char *what) {
        std::vector<uint8_t> out;
        for (uint32_t block : list) {
            const uint64_t at = uint64_t(block) * blockSize;
            if (at + blockSize > pdb.size())
                throw BadSignature(std::string(what) + ": block " + std::to_string(block) + " lies past the file");
            out.insert(out.end(), pdb.begin() + at, pdb.begin() + at + blockSize);
        }
        out.resize(size);
        return out;
    };
    std::vector<uint32_t> directoryBlocks;
    for (uint64_t i = 0; i < blocks(directoryBytes); ++i)
        directoryBlocks.push_back(U32(pdb, uint64_t(blockMap) * blockSize + 4 * i, "the PDB's block map"));
    const std::vector<uint8_t> dir = gather(directoryBlocks, directoryBytes, "the PDB's stream directory");
    const uint32_t streams = U32(dir, 0, "the PDB's stream directory");
    if (index >= streams)
        throw BadSignature("the PDB has " + std::to_string(streams) + " streams, no stream " + std::to_string(index));
    uint64_t listAt = 4 + 4 * uint64_t(streams);
    for (uint32_t s = 0; s < index; ++s) {
        const uint32_t size = U32(dir, 4 + 4 * s, "the PDB's stream directory");
        if (size != 0xFFFFFFFFu)
            listAt += 4 * blocks(size);
    }
    const uint32_t size = U32(dir, 4 + 4 * uint64_t(index), "the PDB's stream directory");
    if (size == 0xFFFFFFFFu)
        throw BadSignature("the PDB's stream " + std::to_string(index) + " is empty");
    std::vector<uint32_t> list;
    for (uint64_t i = 0; i < blocks(size); ++i)
        list.push_back(U32(dir, listAt + 4 * i, "the PDB's stream directory"));
    return gather(list, size, "a PDB stream");
}

} // namespace

uint32_t TimeDateStamp(const pe::Image &image)
{
    return U32(image.bytes, uint64_t(U32(image.bytes, 0x3C, "the image")) + 4 + 4, "the image's COFF header");
}

CodeViewRecord ReadCodeView(const pe::Image &image)
{
    const uint64_t optional = uint64_t(U32(image.bytes, 0x3C, "the image")) + 4 + 20;
    if (U32(image.bytes, optional + 92, "the image's optional header") <= kDebugDirectory)
        throw BadSignature("the image has no debug directory");
    const uint32_t rva = U32(image.bytes, optional + 96 + 8 * kDebugDirectory, "the image's optional header");
    const uint32_t size = U32(image.bytes, optional + 100 + 8 * kDebugDirectory, "the image's optional header");
    if (rva == 0 || size < kDebugEntrySize || size > image.sizeOfImage)
        throw BadSignature("the image has no debug directory");
    const std::vector<uint8_t> entries = image.read(rva, size);
    for (uint32_t e = 0; e + kDebugEntrySize <= size; e += kDebugEntrySize) {
        if (U32(entries, e + 12, "the debug directory") != kDebugTypeCodeView)
            continue;
        const uint32_t dataSize = U32(entries, e + 16, "the debug directory");
        const uint32_t dataRva = U32(entries, e + 20, "the debug directory");
        if (dataSize < 25 || dataSize > image.sizeOfImage)
            throw BadSignature("the CodeView record claims " + std::to_string(dataSize) + " bytes");
        const std::vector<uint8_t> cv = image.read(dataRva, dataSize);
        if (std::memcmp(cv.data(), "RSDS", 4) != 0)
            throw BadSignature("the CodeView record is not an RSDS record");
        CodeViewRecord out;
        std::memcpy(out.guid.data(), cv.data() + 4, 16);
        out.age = U32(cv, 20, "the CodeView record");
        for (uint32_t i = 24; i < dataSize && cv[i] != 0; ++i)
            out.pdbName.push_back(static_cast<char>(cv[i]));
        return out;
    }
    throw BadSignature("the image's debug directory has no CodeView entry");
}

PdbSignature ReadPdbSignature(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BadSignature("cannot open " + path);
    const std::vector<uint8_t> pdb{std::istreambuf_iterator<char>(in), {}};
    if (pdb.size() < kMsfMagicSize + 24 || std::memcmp(pdb.data(), kMsfMagic, kMsfMagicSize) != 0)
        throw BadSignature(path + ": not an MSF 7.00 file");
    // Info stream: Version, Signature, Age, GUID.  DBI stream: VersionSignature,
    // VersionHeader, Age.
    const std::vector<uint8_t> info = Stream(pdb, kInfoStream);
    const std::vector<uint8_t> dbi = Stream(pdb, kDbiStream);
    PdbSignature out;
    out.age = U32(info, 8, "the PDB's info stream");
    if (info.size() < 28)
        throw BadSignature(path + ": the info stream is too short for a GUID");
    std::memcpy(out.guid.data(), info.data() + 12, 16);
    out.dbiAge = U32(dbi, 8, "the PDB's DBI stream");
    return out;
}
