// The mode forms the tools read and write: modes ("800x600x16@75") and
// monitor modes ("1280x1024@60").  Each parser throws BadText with a
// one-line reason that quotes the text.
#ifndef ZERVAL_TEXT_MODE_TEXT_H
#define ZERVAL_TEXT_MODE_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

#include "number_text.h"

namespace text {

struct ModeText {
    uint32_t width = 0, height = 0, bitsPerPixel = 0, refresh = 0;
};
struct MonitorMode {
    uint32_t width = 0, height = 0, refresh = 0;
    bool operator==(const MonitorMode &) const = default;
};

// WIDTHxHEIGHTxBPP@HZ: widths and heights 0 to 65535, depth and rate 0 to 65535.
ModeText ParseMode(std::string_view text);
// WIDTHxHEIGHT@HZ: widths and heights 1 to 65535, rate 1 to 255.
MonitorMode ParseMonitorMode(std::string_view text);
std::string ToText(const MonitorMode &mode);
std::string ToText(const ModeText &mode);

} // namespace text

#endif
