#include "edid.h"

#include "number_text.h"

#include <cctype>
#include <cstdio>

namespace edid {

namespace {

struct Established {
    uint32_t width, height, hz;
    bool interlaced;
};

// Bytes 35 and 36, bit 7 first, then byte 37 bit 7.
constexpr Established kEstablished[17] = {
    {720, 400, 70, false},  {720, 400, 88, false},   {640, 480, 60, false},   {640, 480, 67, false},
    {640, 480, 72, false},  {640, 480, 75, false},   {800, 600, 56, false},   {800, 600, 60, false},
    {800, 600, 72, false},  {800, 600, 75, false},   {832, 624, 75, false},   {1024, 768, 87, true},
    {1024, 768, 60, false}, {1024, 768, 70, false},  {1024, 768, 75, false},  {1280, 1024, 75, false},
    {1152, 870, 75, false},
};

void ReadEstablished(const uint8_t *b, Edid &e)
{
    const uint32_t bits = (uint32_t(b[35]) << 16) | (uint32_t(b[36]) << 8) | b[37];
    for (int i = 0; i < 17; ++i) {
        if (bits & (1u << (23 - i))) {
            const Established &t = kEstablished[i];
            e.timings.push_back({TimingSource::Established, t.width, t.height, t.interlaced, t.hz * 1000});
        }
    }
}

// Two bytes each at 38..53; 01 01 (and 00 00) mark an unused slot.
void ReadStandard(const uint8_t *b, Edid &e)
{
    for (int i = 0; i < 8; ++i) {
        const uint8_t x = b[38 + 2 * i], y = b[39 + 2 * i];
        if ((x == 0x01 && y == 0x01) || x == 0x00)
            continue;
        const uint32_t width = (x + 31u) * 8u;
        uint32_t height = 0;
        switch (y >> 6) {
        case 0: height = (e.version == 1 && e.revision < 3) ? width : width * 10 / 16; break;
        case 1: height = width * 3 / 4; break;
        case 2: height = width * 4 / 5; break;
        default: height = width * 9 / 16; break;
        }
        e.timings.push_back({TimingSource::Standard, width, height, false, ((y & 0x3Fu) + 60u) * 1000u});
    }
}

void ReadDetailed(const uint8_t *d, Edid &e)
{
    const uint32_t clock10kHz = d[0] | (uint32_t(d[1]) << 8);
    const uint32_t hActive = d[2] | (uint32_t(d[4] >> 4) << 8);
    const uint32_t hBlank = d[3] | (uint32_t(d[4] & 0x0F) << 8);
    const uint32_t vActive = d[5] | (uint32_t(d[7] >> 4) << 8);
    const uint32_t vBlank = d[6] | (uint32_t(d[7] & 0x0F) << 8);
    const bool interlaced = (d[17] & 0x80) != 0;
    const uint64_t total = uint64_t(hActive + hBlank) * (vActive + vBlank);
    Timing t{TimingSource::Detailed, hActive, interlaced ? vActive * 2 : vActive, interlaced, 0};
    if (total != 0) {
        // Hz = clock / total; in thousandths, rounded to nearest.  An
        // interlaced timing's totals describe one field.
        const uint64_t milli = (uint64_t(clock10kHz) * 10'000'000u + total / 2) / total;
        t.refreshMilliHz = static_cast<uint32_t>(interlaced ? milli / 2 : milli);
    }
    e.timings.push_back(t);
}

void ReadRangeLimits(const uint8_t *d, Edid &e)
{
    RangeLimits r;
    const uint8_t offsets = (e.revision >= 4) ? d[4] : 0;
    r.minVerticalHz = d[5] + ((offsets & 0x03) == 0x03 ? 255u : 0u);
    r.maxVerticalHz = d[6] + ((offsets & 0x02) ? 255u : 0u);
    r.minHorizontalKHz = d[7] + ((offsets & 0x0C) == 0x0C ? 255u : 0u);
    r.maxHorizontalKHz = d[8] + ((offsets & 0x08) ? 255u : 0u);
    r.maxPixelClockMHz = d[9] * 10u;
    e.range = r;
}

void ReadName(const uint8_t *d, Edid &e)
{
    std::string name;
    for (int i = 5; i < 18 && d[i] != 0x0A; ++i)
        name.push_back(std::isprint(d[i]) ? static_cast<char>(d[i]) : '?');
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    e.productName = name;
}

// The bytes of one line of a hex dump, or nothing when the line is not one.
bool HexLine(std::string_view line, std::vector<uint8_t> &out)
{
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') {
            if (high >= 0)
                return false;  // a lone digit
            continue;
        }
        const int v = text::HexDigit(c);
        if (v < 0)
            return false;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty())
        return false;
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

} // namespace

const char *SourceName(TimingSource source)
{
    switch (source) {
    case TimingSource::Established: return "established";
    case TimingSource::Standard: return "standard";
    case TimingSource::Detailed: return "detailed";
    }
    return "?";
}

std::vector<uint8_t> BytesOf(std::string_view contents)
{
    if (!contents.empty() && contents[0] == '\0')
        return std::vector<uint8_t>(contents.begin(), contents.end());
    // A hex dump: the run of hex lines, after any heading, up to the first
    // line that is not one.
    std::vector<uint8_t> bytes;
    size_t start = 0;
    while (start < contents.size()) {
        size_t end = contents.find('\n', start);
        if (end == std::string_view::npos)
            end = contents.size();
        const std::string_view line = contents.substr(start, end - start);
        start = end + 1;
        if (!HexLine(line, bytes) && !bytes.empty())
            break;
    }
    if (bytes.empty())
        throw BadEdid("neither a binary EDID (it does not start with the header 00 ff ff ff ff ff ff 00) nor a hex dump of one");
    return bytes;
}

Edid Decode(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() < kBlockBytes || bytes.size() % kBlockBytes != 0)
        throw BadEdid(std::to_string(bytes.size()) + " bytes; an EDID is 128 bytes per block");
    const uint8_t *b = bytes.data();
    static constexpr uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (int i = 0; i < 8; ++i)
        if (b[i] != kHeader[i])
            throw BadEdid("no EDID header (bytes 0x00-0x07 are not 00 ff ff ff ff ff ff 00)");
    uint32_t sum = 0;
    for (size_t i = 0; i < kBlockBytes; ++i)
        sum += b[i];
    if (sum % 256 != 0)
        throw BadEdid("base block checksum " + text::Hex(b[127], 2) + " is wrong: the block adds up to " +
                      text::Hex(sum % 256, 2) + " instead of 0x00 (byte 0x7f should be " +
                      text::Hex((b[127] - sum) & 0xFFu, 2) + ")");
    Edid e;
    e.version = b[18];
    e.revision = b[19];
    if (e.version != 1 || e.revision > 4)
        throw BadEdid("structure version " + std::to_string(e.version) + "." + std::to_string(e.revision) +
                      " (bytes 0x12-0x13); this reader knows 1.0 to 1.4");
    e.digital = (b[20] & 0x80) != 0;
    e.extensionBlocks = b[126];

    ReadEstablished(b, e);
    ReadStandard(b, e);
    for (int i = 0; i < 4; ++i) {
        const uint8_t *d = b + 54 + 18 * i;
        if (d[0] != 0 || d[1] != 0) {
            ReadDetailed(d, e);
        } else if (d[3] == 0xFD) {
            ReadRangeLimits(d, e);
        } else if (d[3] == 0xFC) {
            ReadName(d, e);
        }
    }
    return e;
}

} // namespace edid
