// libFuzzer target over the text forms the tools read: modes, monitor modes
// and numbers.  The first byte picks the parser; the rest is the text.  Each
// either throws BadText with one line or returns a value in its range that,
// written back (by the same library), reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mode_text.h"
#include "number_text.h"

namespace {

void OneLine(const text::BadText &bad)
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
    const std::string_view input(reinterpret_cast<const char *>(data + 1), size - 1);
    try {
        switch (data[0] % 4) {
        case 0: {
            const text::ModeText m = text::ParseMode(input);
            if (m.width > 65535 || m.height > 65535 || m.bitsPerPixel > 65535 || m.refresh > 65535)
                std::abort();
            const text::ModeText again = text::ParseMode(text::ToText(m));
            if (again.width != m.width || again.height != m.height || again.bitsPerPixel != m.bitsPerPixel ||
                again.refresh != m.refresh)
                std::abort();
            break;
        }
        case 1: {
            const text::MonitorMode m = text::ParseMonitorMode(input);
            if (m.width == 0 || m.height == 0 || m.refresh == 0 || m.refresh > 255 || !(text::ParseMonitorMode(text::ToText(m)) == m))
                std::abort();
            break;
        }
        case 2: {
            const uint64_t v = text::ParseUnsigned(input, 1, 0xFFFFFFFFu);
            if (v < 1 || v > 0xFFFFFFFFu || text::ParseUnsigned(text::Hex(v), 1, 0xFFFFFFFFu) != v)
                std::abort();
            break;
        }
        default: {
            const int64_t v = text::ParseSigned(input, INT32_MIN, INT32_MAX);
            if (v < INT32_MIN || v > INT32_MAX || text::ParseSigned(std::to_string(v), INT32_MIN, INT32_MAX) != v)
                std::abort();
            break;
        }
        }
    } catch (const text::BadText &bad) {
        OneLine(bad);
    }
    return 0;
}
