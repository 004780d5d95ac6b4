#include "pe_image.h"

#include "number_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace pe {

std::string Hex(uint64_t v) { return text::Hex(v); }

namespace {

struct Reader {
    const std::vector<uint8_t> &b;
    uint32_t u16(uint64_t off) const
    {
        const uint8_t *p = at(off, 2);
        return p[0] | (p[1] << 8);
    }
    uint32_t u32(uint64_t off) const
    {
        const uint8_t *p = at(off, 4);
        return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
    }
    const uint8_t *at(uint64_t off, uint64_t n) const
    {
        if (off + n > b.size())
            throw BadImage("truncated: the file is " + Hex(b.size()) + " bytes, a header points to offset " + Hex(off));
        return b.data() + off;
    }
};

uint32_t RvaToOffset(const Image &img, uint32_t rva)
{
    if (rva < img.sizeOfHeaders)
        return rva;
    for (const Section &s : img.sections)
        if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize) &&
            rva - s.virtualAddress < s.rawSize)
            return s.rawOffset + (rva - s.virtualAddress);
    throw BadImage("RVA " + Hex(rva) + " is outside the file's sections");
}

std::string CString(const Image &img, uint32_t rva)
{
    std::string s;
    for (uint32_t off = RvaToOffset(img, rva); off < img.bytes.size() && img.bytes[off]; ++off)
        s.push_back(static_cast<char>(img.bytes[off]));
    return s;
}

std::u16string WString(const Reader &r, uint32_t off)
{
    std::u16string s;
    for (; r.u16(off) != 0; off += 2)
        s.push_back(static_cast<char16_t>(r.u16(off)));
    return s;
}

std::string Narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

uint32_t Align4(uint32_t v) { return (v + 3) & ~3u; }

// Walks a VS_VERSIONINFO block (file offset, length) and collects the file
// type and subtype of its fixed part and the StringFileInfo strings.
void VersionBlock(const Reader &r, uint32_t off, uint32_t end, Image &img, int depth)
{
    while (off + 6 <= end) {
        const uint32_t length = r.u16(off);
        const uint32_t valueLength = r.u16(off + 2);
        const uint32_t type = r.u16(off + 4);
        if (length == 0)
            break;
        const std::u16string key = WString(r, off + 6);
        uint32_t value = Align4(off + 6 + 2 * (key.size() + 1));
        const uint32_t blockEnd = off + length;
        // VS_FIXEDFILEINFO: signature 0xFEEF04BD; dwFileType at 36, dwFileSubtype at 40.
        if (depth == 0 && type == 0 && valueLength >= 52 && r.u32(value) == 0xFEEF04BDu) {
            img.versionFileType = r.u32(value + 36);
            img.versionFileSubtype = r.u32(value + 40);
        }
        if (depth == 3 && type == 1 && valueLength > 0) {
            img.versionStrings[Narrow(key)] = Narrow(WString(r, value));
        }
        uint32_t children = value + (type == 1 ? 2 * valueLength : valueLength);
        if (depth < 3)
            VersionBlock(r, Align4(children), blockEnd, img, depth + 1);
        off = Align4(blockEnd);
    }
}

void ParseVersion(const Reader &r, Image &img, uint32_t rsrcRva)
{
    const uint32_t base = RvaToOffset(img, rsrcRva);
    // Root directory: find type 16 (RT_VERSION), then its first name and language.
    auto firstEntryFor = [&](uint32_t dirOff, int id) -> uint32_t {
        const uint32_t named = r.u16(dirOff + 12), ids = r.u16(dirOff + 14);
        for (uint32_t i = 0; i < named + ids; ++i) {
            const uint32_t e = dirOff + 16 + 8 * i;
            if (id < 0 || (!(r.u32(e) & 0x80000000u) && int(r.u32(e)) == id))
                return r.u32(e + 4);
        }
        return 0xFFFFFFFFu;
    };
    uint32_t e = firstEntryFor(base, 16);
    if (e == 0xFFFFFFFFu || !(e & 0x80000000u))
        return;
    e = firstEntryFor(base + (e & 0x7FFFFFFF), -1);
    if (e == 0xFFFFFFFFu || !(e & 0x80000000u))
        return;
    e = firstEntryFor(base + (e & 0x7FFFFFFF), -1);
    if (e == 0xFFFFFFFFu || (e & 0x80000000u))
        return;
    const uint32_t dataRva = r.u32(base + e), dataSize = r.u32(base + e + 4);
    const uint32_t off = RvaToOffset(img, dataRva);
    VersionBlock(r, off, off + dataSize, img, 0);
}

} // namespace

std::string Printable(const std::string &name)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : name) {
        if (out.size() >= 64) {
            out += "...";
            break;
        }
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

namespace {

// The first of `all` (sections, exports) with that name, or null.
template <typename T>
const T *Named(const std::vector<T> &all, const std::string &name)
{
    const auto it = std::find_if(all.begin(), all.end(), [&name](const T &t) { return t.name == name; });
    return it != all.end() ? &*it : nullptr;
}

} // namespace

const Section *Image::section(const std::string &name) const { return Named(sections, name); }

const Section *Image::sectionAt(uint32_t rva) const
{
    for (const Section &s : sections)
        if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize))
            return &s;
    return nullptr;
}

const Export *Image::exported(const std::string &name) const { return Named(exports, name); }

std::vector<uint8_t> Image::read(uint32_t rva, uint32_t size) const
{
    std::vector<uint8_t> out(size, 0);
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t at = rva + i;
        for (const Section &s : sections)
            if (at >= s.virtualAddress && at - s.virtualAddress < s.rawSize)
                out[i] = bytes[s.rawOffset + (at - s.virtualAddress)];
    }
    return out;
}

uint32_t Image::u32At(uint32_t rva) const
{
    const auto b = read(rva, 4);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24);
}

Image Parse(std::vector<uint8_t> bytes)
{
    Image img;
    img.bytes = std::move(bytes);
    const Reader r{img.bytes};
    if (img.bytes.size() < 64 || r.u16(0) != 0x5A4D)
        throw BadImage("not a PE image (no MZ header)");
    const uint32_t peOff = r.u32(0x3C);
    if (r.u32(peOff) != 0x00004550)
        throw BadImage("not a PE image (no PE signature at offset " + Hex(peOff) + ")");
    const uint32_t coff = peOff + 4;
    img.machine = static_cast<uint16_t>(r.u16(coff));
    const uint32_t sectionCount = r.u16(coff + 2);
    const uint32_t optSize = r.u16(coff + 16);
    img.characteristics = static_cast<uint16_t>(r.u16(coff + 18));
    const uint32_t opt = coff + 20;
    img.magic = static_cast<uint16_t>(r.u16(opt));
    if (img.magic == 0x20B)
        throw BadImage("a PE32+ (64-bit) image, not PE32 (optional header magic 0x20b at offset " + Hex(opt) + ")");
    if (img.magic != 0x10B)
        throw BadImage("not a PE32 image (optional header magic " + Hex(img.magic) + " at offset " + Hex(opt) +
                       ", PE32 has 0x10b)");
    img.entryRva = r.u32(opt + 16);
    img.imageBase = r.u32(opt + 28);
    img.sectionAlignment = r.u32(opt + 32);
    img.fileAlignment = r.u32(opt + 36);
    img.sizeOfImage = r.u32(opt + 56);
    img.sizeOfHeaders = r.u32(opt + 60);
    img.checksumOffset = opt + 64;
    img.checksum = r.u32(opt + 64);
    img.subsystem = static_cast<uint16_t>(r.u16(opt + 68));
    img.dllCharacteristics = static_cast<uint16_t>(r.u16(opt + 70));
    const uint32_t dirCount = r.u32(opt + 92);
    auto dir = [&](uint32_t i, uint32_t &rva, uint32_t &size) {
        rva = size = 0;
        if (i < dirCount) {
            rva = r.u32(opt + 96 + 8 * i);
            size = r.u32(opt + 100 + 8 * i);
        }
    };

    const uint32_t secTable = opt + optSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint32_t s = secTable + 40 * i;
        Section sec;
        const char *name = reinterpret_cast<const char *>(r.at(s, 8));
        sec.name.assign(name, strnlen(name, 8));
        sec.virtualSize = r.u32(s + 8);
        sec.virtualAddress = r.u32(s + 12);
        sec.rawSize = r.u32(s + 16);
        sec.rawOffset = r.u32(s + 20);
        sec.characteristics = r.u32(s + 36);
        sec.headerOffset = s;
        r.at(sec.rawOffset, sec.rawSize);  // must lie in the file
        img.sections.push_back(sec);
    }

    uint32_t rva, size;
    dir(0, rva, size);  // exports
    if (rva) {
        const uint32_t d = RvaToOffset(img, rva);
        const uint32_t functions = r.u32(d + 28), names = r.u32(d + 32), ordinals = r.u32(d + 36);
        const uint32_t nameCount = r.u32(d + 24);
        for (uint32_t i = 0; i < nameCount; ++i) {
            Export e;
            e.name = CString(img, r.u32(RvaToOffset(img, names + 4 * i)));
            const uint32_t ordinal = r.u16(RvaToOffset(img, ordinals + 2 * i));
            e.rva = r.u32(RvaToOffset(img, functions + 4 * ordinal));
            img.exports.push_back(e);
        }
    }
    dir(1, rva, size);  // imports
    if (rva) {
        for (uint32_t d = RvaToOffset(img, rva);; d += 20) {
            const uint32_t lookup = r.u32(d), nameRva = r.u32(d + 12), iat = r.u32(d + 16);
            if (nameRva == 0)
                break;
            const std::string module = CString(img, nameRva);
            const uint32_t thunks = lookup ? lookup : iat;
            for (uint32_t i = 0;; ++i) {
                const uint32_t t = r.u32(RvaToOffset(img, thunks + 4 * i));
                if (t == 0)
                    break;
                if (t & 0x80000000u)
                    throw BadImage("import by ordinal from " + Printable(module) + " is not supported");
                img.imports.push_back(Import{module, CString(img, t + 2), iat + 4 * i});
            }
        }
    }
    dir(2, rva, size);  // resources
    if (rva)
        ParseVersion(r, img, rva);
    dir(5, rva, size);  // base relocations
    if (rva) {
        const uint32_t start = RvaToOffset(img, rva);
        r.at(start, size);  // the whole table lies in the file
        for (uint32_t off = start, end = start + size; off + 8 <= end;) {
            const uint32_t page = r.u32(off), blockSize = r.u32(off + 4);
            if (blockSize < 8 || blockSize > end - off)
                throw BadImage("malformed base relocation block");
            for (uint32_t e = 8; e + 2 <= blockSize; e += 2) {
                const uint32_t entry = r.u16(off + e);
                const uint32_t type = entry >> 12;
                if (type == 3)
                    img.relocations.push_back(page + (entry & 0xFFF));
                else if (type != 0)
                    throw BadImage("unsupported base relocation type " + std::to_string(type) + " at offset " + Hex(off + e));
            }
            off += blockSize;
        }
    }
    dir(9, rva, size);  // TLS
    img.tlsDirectorySize = size;
    return img;
}

Image Load(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BadImage("cannot open " + path);
    std::vector<uint8_t> bytes;
    char piece[1 << 16];
    while (bytes.size() <= kLargestFile) {
        in.read(piece, static_cast<std::streamsize>(std::min<uint64_t>(sizeof piece, kLargestFile + 1 - bytes.size())));
        if (in.bad())
            throw BadImage("cannot read " + path);
        bytes.insert(bytes.end(), piece, piece + in.gcount());
        if (!in)
            return Parse(std::move(bytes));  // its end
    }
    throw BadImage("larger than " + std::to_string(kLargestFile >> 20) + " MiB, the most an image file may be");
}

uint32_t ComputeChecksum(const std::vector<uint8_t> &bytes, uint32_t checksumOffset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= checksumOffset && i < checksumOffset + 4)
            continue;
        uint32_t word = bytes[i];
        if (i + 1 < bytes.size())
            word |= uint32_t(bytes[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + bytes.size());
}

} // namespace pe
