#include "mode_text.h"

namespace text {

namespace {

// The field between separators, as a number from min to max.
uint32_t Field(std::string_view whole, std::string_view part, const char *what, uint32_t min, uint32_t max,
               const char *form)
{
    // Decimal digits only (no 0x here), as a whole number below 2^64.
    bool number = !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
    uint64_t v = 0;
    try {
        v = number ? ParseUnsigned(part, UINT64_MAX) : 0;
    } catch (const BadText &) {
        number = false;
    }
    if (!number)
        throw BadText("mode " + Quoted(whole) + " is not " + form);
    if (v < min || v > max)
        throw BadText("mode " + Quoted(whole) + ": " + what + " " + std::string(part) + " is outside " +
                      std::to_string(min) + " to " + std::to_string(max));
    return static_cast<uint32_t>(v);
}

// Splits at the separators in order ("x", "x", "@"); false when one is missing.
bool Split(std::string_view text, std::string_view seps, std::string_view *parts)
{
    size_t at = 0;
    for (size_t i = 0; i < seps.size(); ++i) {
        size_t next = std::string_view::npos;
        for (size_t k = at; k < text.size(); ++k) {
            const char c = text[k];
            if (c == seps[i] || (seps[i] == 'x' && c == 'X')) {
                next = k;
                break;
            }
        }
        if (next == std::string_view::npos)
            return false;
        parts[i] = text.substr(at, next - at);
        at = next + 1;
    }
    parts[seps.size()] = text.substr(at);
    return true;
}

} // namespace

ModeText ParseMode(std::string_view text)
{
    static const char *kForm = "WIDTHxHEIGHTxBPP@HZ (for example 800x600x16@75)";
    std::string_view p[4];
    if (!Split(text, "xx@", p))
        throw BadText("mode " + Quoted(text) + " is not " + kForm);
    ModeText m;
    m.width = Field(text, p[0], "width", 0, 65535, kForm);
    m.height = Field(text, p[1], "height", 0, 65535, kForm);
    m.bitsPerPixel = Field(text, p[2], "depth", 0, 65535, kForm);
    m.refresh = Field(text, p[3], "rate", 0, 65535, kForm);
    return m;
}

MonitorMode ParseMonitorMode(std::string_view text)
{
    static const char *kForm = "WIDTHxHEIGHT@HZ (for example 1280x1024@60)";
    std::string_view p[3];
    if (!Split(text, "x@", p))
        throw BadText("mode " + Quoted(text) + " is not " + kForm);
    MonitorMode m;
    m.width = Field(text, p[0], "width", 1, 65535, kForm);
    m.height = Field(text, p[1], "height", 1, 65535, kForm);
    m.refresh = Field(text, p[2], "rate", 1, 255, kForm);
    return m;
}

std::string ToText(const MonitorMode &mode)
{
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" + std::to_string(mode.refresh);
}

} // namespace text

namespace text {

std::string ToText(const ModeText &mode)
{
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" + std::to_string(mode.bitsPerPixel) +
           "@" + std::to_string(mode.refresh);
}

} // namespace text
