#include "guest_format.h"

#include <algorithm>
#include <cstdio>

namespace emu {

namespace {

constexpr int kLongestField = 512;  // a width or precision, in characters

class Formatter {
public:
    Formatter(const GuestReader &read, uint32_t args) : read_(read), next_(args) {}

    uint32_t u32(uint32_t address) const
    {
        uint32_t v = 0;
        read_(address, &v, 4);
        return v;
    }
    uint32_t nextArg()
    {
        const uint32_t v = u32(next_);
        next_ += 4;
        return v;
    }
    uint64_t nextArg64()
    {
        const uint64_t low = nextArg();
        return low | uint64_t{nextArg()} << 32;
    }
    // A zero-terminated string of 1- or 2-byte characters, at most `most`.
    std::string text(uint32_t address, bool wide, size_t most) const
    {
        if (address == 0)
            return "(null)";
        std::string out;
        for (size_t i = 0; i < most; ++i) {
            uint16_t c = 0;
            read_(address + static_cast<uint32_t>(i * (wide ? 2 : 1)), &c, wide ? 2 : 1);
            if (c == 0)
                break;
            out += Printable(c);
        }
        return out;
    }
    // A counted string: USHORT Length, USHORT MaximumLength, then the buffer.
    std::string counted(uint32_t address, bool wide) const
    {
        if (address == 0)
            return "(null)";
        const uint32_t lengths = u32(address);
        const uint32_t buffer = u32(address + 4);
        const size_t units = (lengths & 0xFFFF) / (wide ? 2 : 1);
        std::string out;
        for (size_t i = 0; i < units && i < kLongestDebugString; ++i) {
            uint16_t c = 0;
            read_(buffer + static_cast<uint32_t>(i * (wide ? 2 : 1)), &c, wide ? 2 : 1);
            out += Printable(c);
        }
        return out;
    }
    static char Printable(uint16_t c) { return c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?'; }

private:
    const GuestReader &read_;
    uint32_t next_;
};

// A number as printf would write it with these flags, width and precision.
std::string Number(const std::string &flags, int width, int precision, bool haveWidth, bool havePrecision,
                   const char *length, char conversion, uint64_t value, bool is64)
{
    std::string spec = "%" + flags;
    if (haveWidth)
        spec += std::to_string(width);
    if (havePrecision)
        spec += "." + std::to_string(precision);
    spec += length;
    spec += conversion;
    char buf[kLongestField + 64];  // the widest field, and a number with its sign and prefix
    if (conversion == 'd' || conversion == 'i') {
        const long long v = is64 ? static_cast<long long>(value) : static_cast<int32_t>(value);
        std::snprintf(buf, sizeof buf, spec.c_str(), v);
    } else {
        const unsigned long long v = is64 ? value : static_cast<uint32_t>(value);
        std::snprintf(buf, sizeof buf, spec.c_str(), v);
    }
    return buf;
}

} // namespace

std::string FormatGuest(const GuestReader &read, uint32_t format, uint32_t args)
{
    Formatter f(read, args);
    const std::string fmt = f.text(format, false, kLongestDebugText);
    std::string out;
    for (size_t i = 0; i < fmt.size() && out.size() < kLongestDebugText; ++i) {
        if (fmt[i] != '%') {
            out += fmt[i];
            continue;
        }
        const size_t start = i++;
        std::string flags;
        while (i < fmt.size() && std::string("-+ 0#").find(fmt[i]) != std::string::npos)
            flags += fmt[i++];
        int width = 0, precision = 0;
        bool haveWidth = false, havePrecision = false;
        // A width from the arguments: a negative one left-justifies.  Both
        // width and precision are held to kLongestField.
        if (i < fmt.size() && fmt[i] == '*') {
            const int32_t given = static_cast<int32_t>(f.nextArg());
            if (given < 0)
                flags += '-';
            width = static_cast<int>(std::min<int64_t>(given < 0 ? -int64_t{given} : given, kLongestField));
            haveWidth = true;
            ++i;
        }
        for (; i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9'; ++i, haveWidth = true)
            width = std::min(width * 10 + (fmt[i] - '0'), kLongestField);
        if (i < fmt.size() && fmt[i] == '.') {
            havePrecision = true;
            ++i;
            if (i < fmt.size() && fmt[i] == '*') {
                const int32_t given = static_cast<int32_t>(f.nextArg());
                havePrecision = given >= 0;  // a negative one is as if none were given
                precision = std::min<int>(std::max<int32_t>(given, 0), kLongestField);
                ++i;
            }
            for (; i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9'; ++i)
                precision = std::min(precision * 10 + (fmt[i] - '0'), kLongestField);
        }
        bool is64 = false, wide = false, narrow = false, byte = false;
        while (i < fmt.size()) {
            if (fmt[i] == 'l' && i + 1 < fmt.size() && fmt[i + 1] == 'l') {
                is64 = true;
                i += 2;
            } else if (fmt.compare(i, 3, "I64") == 0) {
                is64 = true;
                i += 3;
            } else if (fmt[i] == 'l' || fmt[i] == 'w') {
                wide = true;
                ++i;
            } else if (fmt[i] == 'h' && i + 1 < fmt.size() && fmt[i + 1] == 'h') {
                byte = true;
                i += 2;
            } else if (fmt[i] == 'h') {
                narrow = true;
                ++i;
            } else {
                break;
            }
        }
        if (i >= fmt.size()) {
            out += fmt.substr(start);
            break;
        }
        const char conversion = fmt[i];
        std::string piece;
        switch (conversion) {
        case '%': piece = "%"; break;
        case 'c':
        case 'C': piece = std::string(1, Formatter::Printable(static_cast<uint16_t>(f.nextArg()))); break;
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t v = is64 ? f.nextArg64() : f.nextArg();
            const bool sign = conversion == 'd' || conversion == 'i';
            if (byte && !is64)  // a char: its low byte, its sign kept for d and i
                v = sign ? static_cast<uint32_t>(static_cast<int8_t>(v)) : v & 0xFF;
            else if (narrow && !is64)  // a short: its low half, likewise
                v = sign ? static_cast<uint32_t>(static_cast<int16_t>(v)) : v & 0xFFFF;
            piece = Number(flags, width, precision, haveWidth, havePrecision, "ll", conversion, v, is64);
            break;
        }
        case 'p': piece = Number("0", 8, 0, true, false, "ll", 'X', f.nextArg(), false); break;
        case 's':
        case 'S': {
            const bool w = conversion == 'S' ? !narrow : wide;
            piece = f.text(f.nextArg(), w, havePrecision ? static_cast<size_t>(std::max(precision, 0)) : kLongestDebugString);
            break;
        }
        case 'Z': piece = f.counted(f.nextArg(), wide); break;
        default: piece = fmt.substr(start, i - start + 1); break;
        }
        if (conversion == 's' || conversion == 'S' || conversion == 'Z' || conversion == 'c' || conversion == 'C') {
            const size_t pad = haveWidth && static_cast<size_t>(width) > piece.size() ? width - piece.size() : 0;
            piece = flags.find('-') != std::string::npos ? piece + std::string(pad, ' ') : std::string(pad, ' ') + piece;
        }
        out += piece;
    }
    if (out.size() > kLongestDebugText)
        out.resize(kLongestDebugText);
    return out;
}

} // namespace emu
