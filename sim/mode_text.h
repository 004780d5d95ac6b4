// The text forms the tools read: modes ("800x600x16@75"), monitor modes
// ("1280x1024@60") and whole numbers (decimal or 0x hex).  Each parser
// throws BadText with a one-line reason that quotes the text.
#ifndef ZERVAL_SIM_MODE_TEXT_H
#define ZERVAL_SIM_MODE_TEXT_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sim {

struct BadText : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

struct ModeText {
    uint32_t width = 0, height = 0, bitsPerPixel = 0, refresh = 0;
};
struct MonitorMode {
    uint32_t width = 0, height = 0, refresh = 0;
    bool operator==(const MonitorMode &) const = default;
};

// A whole number from 0 to max, decimal or 0x hex, nothing around it.
uint64_t ParseUnsigned(std::string_view text, uint64_t max);
// A whole number from min to max, decimal (with an optional minus) or 0x hex.
int64_t ParseSigned(std::string_view text, int64_t min, int64_t max);
// WIDTHxHEIGHTxBPP@HZ: widths and heights 0 to 65535, depth and rate 0 to 65535.
ModeText ParseMode(std::string_view text);
// WIDTHxHEIGHT@HZ: widths and heights 1 to 65535, rate 1 to 255.
MonitorMode ParseMonitorMode(std::string_view text);
std::string ToText(const MonitorMode &mode);

} // namespace sim

#endif
