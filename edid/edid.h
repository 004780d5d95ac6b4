// An EDID reader: the base block of a monitor's Extended Display
// Identification Data (structure versions 1.0 to 1.4), as a monitor hands it
// over DDC or as Linux shows it in /sys/class/drm/*/edid.  It keeps what the
// adapter model needs: the Display Range Limits descriptor and the timings
// the block lists (established, standard, detailed).
#ifndef ZERVAL_EDID_EDID_H
#define ZERVAL_EDID_EDID_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace edid {

// Thrown with a one-line reason that names what is wrong, without the file.
struct BadEdid : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr size_t kBlockBytes = 128;

// The Display Range Limits descriptor (tag 0xFD), offsets applied.
struct RangeLimits {
    uint32_t minVerticalHz = 0;
    uint32_t maxVerticalHz = 0;
    uint32_t minHorizontalKHz = 0;
    uint32_t maxHorizontalKHz = 0;
    uint32_t maxPixelClockMHz = 0;  // 0: the descriptor gives none
};

enum class TimingSource : uint8_t { Established, Standard, Detailed };

struct Timing {
    TimingSource source{};
    uint32_t width = 0;
    uint32_t height = 0;  // lines of the frame (both fields when interlaced)
    bool interlaced = false;
    // Established and standard timings carry a nominal whole rate; a
    // detailed timing's rate is computed from its pixel clock and totals.
    uint32_t refreshMilliHz = 0;
    uint32_t refreshHz() const { return (refreshMilliHz + 500) / 1000; }
};

struct Edid {
    uint8_t version = 0;
    uint8_t revision = 0;
    bool digital = false;
    uint8_t extensionBlocks = 0;  // as the base block declares them
    std::string productName;      // descriptor 0xFC, empty when absent
    std::optional<RangeLimits> range;
    std::vector<Timing> timings;  // in the order the block lists them
};

// Decodes the base block (the first 128 bytes; extension blocks that follow
// are not read).  Throws BadEdid for a short or ragged block list, a wrong
// header, a wrong checksum or a structure version other than 1.x.
Edid Decode(const std::vector<uint8_t> &bytes);

// The bytes of an EDID file: binary as read from the monitor, or a hex dump
// (pairs of hex digits, spaces optional, as edid-decode prints above its
// decoding or as `xxd -p` writes).  Throws BadEdid when it is neither.
std::vector<uint8_t> BytesOf(std::string_view contents);

const char *SourceName(TimingSource source);

} // namespace edid

#endif
