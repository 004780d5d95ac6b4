#include "number_text.h"

#include <cstdio>

namespace text {

namespace {

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

std::string Range(uint64_t min, uint64_t max) { return Bound(min) + " to " + Bound(max); }

} // namespace

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Hex(uint64_t v, int digits)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llx", digits, static_cast<unsigned long long>(v));
    return buf;
}

std::string Bound(uint64_t v) { return v <= 0xFFFF ? std::to_string(v) : Hex(v); }

std::string Printable(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c >= 0x20 && c < 0x7F)
            out.push_back(c);
        else
            out += "\\x" + Hex(static_cast<unsigned char>(c), 2).substr(2);
    }
    return out;
}

std::string Quoted(std::string_view text) { return "'" + Printable(text) + "'"; }

uint64_t ParseUnsigned(std::string_view text, uint64_t min, uint64_t max)
{
    uint64_t v = 0;
    if (!text.empty() && text[0] == '-' && Magnitude(text.substr(1), v))
        throw BadText(Quoted(text) + " is negative; give " + Range(min, max));
    if (!Magnitude(text, v))
        throw BadText(Quoted(text) + " is not a whole number (decimal or 0x hex)");
    if (v > max)
        throw BadText(Quoted(text) + " is above " + Bound(max) + "; give " + Range(min, max));
    if (v < min)
        throw BadText(Quoted(text) + " is below " + Bound(min) + "; give " + Range(min, max));
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

} // namespace text
