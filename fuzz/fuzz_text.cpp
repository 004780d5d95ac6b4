// libFuzzer target over the text forms the tools read: modes, monitor modes
// and numbers.  The first byte picks the parser; the rest is the text.  Each
// either throws BadText with one line or returns a value in its range that,
// written back, reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mode_text.h"

namespace {

void OneLine(const sim::BadText &bad)
{
    for (const char *c = bad.what(); *c; ++c)
        if (*c == '\n')
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    try {
        switch (data[0] % 4) {
        case 0: {
            const sim::ModeText m = sim::ParseMode(text);
            if (m.width > 65535 || m.height > 65535 || m.bitsPerPixel > 65535 || m.refresh > 65535)
                std::abort();
            const std::string back = std::to_string(m.width) + "x" + std::to_string(m.height) + "x" +
                                     std::to_string(m.bitsPerPixel) + "@" + std::to_string(m.refresh);
            const sim::ModeText again = sim::ParseMode(back);
            if (again.width != m.width || again.height != m.height || again.bitsPerPixel != m.bitsPerPixel ||
                again.refresh != m.refresh)
                std::abort();
            break;
        }
        case 1: {
            const sim::MonitorMode m = sim::ParseMonitorMode(text);
            if (m.width == 0 || m.height == 0 || m.refresh == 0 || m.refresh > 255 || !(sim::ParseMonitorMode(sim::ToText(m)) == m))
                std::abort();
            break;
        }
        case 2: {
            const uint64_t v = sim::ParseUnsigned(text, 0xFFFFFFFFu);
            if (v > 0xFFFFFFFFu || sim::ParseUnsigned(std::to_string(v), 0xFFFFFFFFu) != v)
                std::abort();
            break;
        }
        default: {
            const int64_t v = sim::ParseSigned(text, INT32_MIN, INT32_MAX);
            if (v < INT32_MIN || v > INT32_MAX || sim::ParseSigned(std::to_string(v), INT32_MIN, INT32_MAX) != v)
                std::abort();
            break;
        }
        }
    } catch (const sim::BadText &bad) {
        OneLine(bad);
    }
    return 0;
}
