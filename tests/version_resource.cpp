#include "version_resource.h"

#include <vector>

namespace {

// PE32: the optional header follows the 4-byte signature and the 20-byte COFF
// header; its data directories start at 96, the resource table is the third.
constexpr uint32_t kOptionalHeader = 4 + 20;
constexpr uint32_t kDataDirectories = 96;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr uint32_t kFixedSize = 52;  // VS_FIXEDFILEINFO: thirteen DWORDs

// Bounded little-endian reads of one span of bytes.
struct Span {
    std::vector<uint8_t> bytes;
    const char *what;
    uint32_t u16(uint32_t off) const
    {
        need(off, 2);
        return bytes[off] | (bytes[off + 1] << 8);
    }
    uint32_t u32(uint32_t off) const
    {
        need(off, 4);
        return bytes[off] | (bytes[off + 1] << 8) | (bytes[off + 2] << 16) | (uint32_t(bytes[off + 3]) << 24);
    }
    void need(uint32_t off, uint32_t n) const
    {
        if (uint64_t(off) + n > bytes.size())
            throw BadVersionResource(std::string(what) + ": " + std::to_string(n) + " bytes at offset " +
                                     std::to_string(off) + " lie past its " + std::to_string(bytes.size()));
    }
    // A NUL-terminated UTF-16 string, ASCII kept, anything else as '?'.
    std::string text(uint32_t off, uint32_t end, uint32_t &after) const
    {
        std::string s;
        for (;; off += 2) {
            if (off + 2 > end)
                throw BadVersionResource(std::string(what) + ": unterminated string at offset " + std::to_string(off));
            const uint32_t c = u16(off);
            if (c == 0)
                break;
            s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        after = off + 2;
        return s;
    }
};

uint32_t Align4(uint32_t v) { return (v + 3) & ~3u; }

// The first entry of a resource directory (with `id` >= 0: the entry with
// that numeric id); returns its OffsetToData.
uint32_t Entry(const Span &rsrc, uint32_t dir, int id)
{
    const uint32_t count = rsrc.u16(dir + 12) + rsrc.u16(dir + 14);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t e = dir + 16 + 8 * i;
        const uint32_t name = rsrc.u32(e);
        if (id < 0 || (!(name & 0x80000000u) && name == uint32_t(id)))
            return rsrc.u32(e + 4);
    }
    throw BadVersionResource(id < 0 ? "an empty resource directory" : "no RT_VERSION resource");
}

uint32_t Subdirectory(uint32_t entry)
{
    if (!(entry & 0x80000000u))
        throw BadVersionResource("a resource directory entry is data where a directory belongs");
    return entry & 0x7FFFFFFFu;
}

// One block of the VS_VERSIONINFO tree at `off`: wLength, wValueLength,
// wType, the key, the value and the children, each on a 4-byte boundary.
void Block(const Span &v, uint32_t off, uint32_t end, int depth, const std::string &parent, VersionResource &out)
{
    const uint32_t length = v.u16(off), valueLength = v.u16(off + 2), type = v.u16(off + 4);
    if (length < 6 || off + length > end)
        throw BadVersionResource("a version block at offset " + std::to_string(off) + " has length " +
                                 std::to_string(length) + ", past its parent's end " + std::to_string(end));
    const uint32_t blockEnd = off + length;
    uint32_t afterKey = 0;
    const std::string key = v.text(off + 6, blockEnd, afterKey);
    const uint32_t value = Align4(afterKey);
    // A text value's length counts UTF-16 characters, a binary one bytes.
    const uint32_t valueBytes = type == 1 ? 2 * valueLength : valueLength;
    if (depth == 0) {
        if (key != "VS_VERSION_INFO" || valueBytes < kFixedSize || v.u32(value) != kFixedSignature)
            throw BadVersionResource("the version resource does not start with VS_VERSION_INFO and its fixed part");
        out.fileVersion = {uint16_t(v.u32(value + 8) >> 16), uint16_t(v.u32(value + 8)),
                           uint16_t(v.u32(value + 12) >> 16), uint16_t(v.u32(value + 12))};
        out.productVersion = {uint16_t(v.u32(value + 16) >> 16), uint16_t(v.u32(value + 16)),
                              uint16_t(v.u32(value + 20) >> 16), uint16_t(v.u32(value + 20))};
        out.fileOs = v.u32(value + 32);
        out.fileType = v.u32(value + 36);
        out.fileSubtype = v.u32(value + 40);
    }
    // StringFileInfo > StringTable (a language) > String.
    if (depth == 3 && parent == "StringFileInfo") {
        uint32_t ignored = 0;
        out.strings[key] = valueLength == 0 ? "" : v.text(value, blockEnd, ignored);
        return;
    }
    if (depth == 3)
        return;
    for (uint32_t child = Align4(value + valueBytes); child + 6 <= blockEnd;) {
        const uint32_t childLength = v.u16(child);
        if (childLength == 0)
            break;
        Block(v, child, blockEnd, depth + 1, depth == 1 ? key : parent, out);
        child = Align4(child + childLength);
    }
}

} // namespace

VersionResource ReadVersionResource(const pe::Image &image)
{
    const Span file{image.bytes, "the image"};
    const uint32_t optional = file.u32(0x3C) + kOptionalHeader;
    if (file.u32(optional + 92) <= kResourceDirectory)
        throw BadVersionResource("no resource directory");
    const uint32_t rsrcRva = file.u32(optional + kDataDirectories + 8 * kResourceDirectory);
    const uint32_t rsrcSize = file.u32(optional + kDataDirectories + 8 * kResourceDirectory + 4);
    if (rsrcRva == 0 || rsrcSize == 0)
        throw BadVersionResource("no resource directory");
    const Span rsrc{image.read(rsrcRva, rsrcSize), "the resource directory"};

    // Type, then name, then language: the first version resource.
    const uint32_t names = Subdirectory(Entry(rsrc, 0, int(kRtVersion)));
    const uint32_t languages = Subdirectory(Entry(rsrc, names, -1));
    const uint32_t leaf = Entry(rsrc, languages, -1);
    if (leaf & 0x80000000u)
        throw BadVersionResource("the version resource's language entry is a directory");
    const uint32_t dataRva = rsrc.u32(leaf), dataSize = rsrc.u32(leaf + 4);
    if (dataSize > image.sizeOfImage)
        throw BadVersionResource("the version resource claims " + std::to_string(dataSize) + " bytes");
    const Span data{image.read(dataRva, dataSize), "the version resource"};

    VersionResource out;
    Block(data, 0, dataSize, 0, "", out);
    return out;
}
