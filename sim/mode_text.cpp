#include "mode_text.h"

#include <cstdio>

namespace sim {

namespace {

// The text between quotes, with anything unprintable as \xNN so that a
// message stays one line.
std::string Quoted(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
            out += buf;
        }
    }
    return out + "'";
}

std::string HexOf(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

// Digits of a number in the given base; false on anything else or overflow
// past 2^64 - 1.
bool Digits(std::string_view text, unsigned base, uint64_t &out)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (char c : text) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (v > (UINT64_MAX - d) / base)
            return false;
        v = v * base + d;
    }
    out = v;
    return true;
}

bool Magnitude(std::string_view text, uint64_t &out)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return Digits(text.substr(2), 16, out);
    return Digits(text, 10, out);
}

// The field between separators, as a number from min to max.
uint32_t Field(std::string_view whole, std::string_view part, const char *what, uint32_t min, uint32_t max,
               const char *form)
{
    uint64_t v = 0;
    if (!Digits(part, 10, v))
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

uint64_t ParseUnsigned(std::string_view text, uint64_t max)
{
    uint64_t v = 0;
    if (!text.empty() && text[0] == '-' && Magnitude(text.substr(1), v))
        throw BadText(Quoted(text) + " is negative; give 0 to " + HexOf(max));
    if (!Magnitude(text, v))
        throw BadText(Quoted(text) + " is not a whole number (decimal or 0x hex)");
    if (v > max)
        throw BadText(Quoted(text) + " is above " + HexOf(max) + " (" + std::to_string(max) + ")");
    return v;
}

int64_t ParseSigned(std::string_view text, int64_t min, int64_t max)
{
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t v = 0;
    if (!Magnitude(negative ? text.substr(1) : text, v))
        throw BadText(Quoted(text) + " is not a whole number (decimal or 0x hex)");
    const bool fits = negative ? v <= uint64_t(-(min + 1)) + 1 : v <= uint64_t(max);
    const int64_t s = negative ? (v == 0 ? 0 : -static_cast<int64_t>(v - 1) - 1) : static_cast<int64_t>(v);
    if (!fits || s < min || s > max)
        throw BadText(Quoted(text) + " is outside " + std::to_string(min) + " to " + std::to_string(max));
    return s;
}

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

} // namespace sim
