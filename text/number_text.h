// Whole numbers as the tools read and write them: decimal or 0x hex in, hex
// out, and any text quoted so that a message stays one printable line.  Each
// parser throws BadText with a one-line reason that quotes the text.
#ifndef ZERVAL_TEXT_NUMBER_TEXT_H
#define ZERVAL_TEXT_NUMBER_TEXT_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace text {

struct BadText : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// A whole number from min to max, decimal or 0x hex, nothing around it.
uint64_t ParseUnsigned(std::string_view text, uint64_t min, uint64_t max);
inline uint64_t ParseUnsigned(std::string_view text, uint64_t max) { return ParseUnsigned(text, 0, max); }
// A whole number from min to max, decimal (with an optional minus) or 0x hex.
int64_t ParseSigned(std::string_view text, int64_t min, int64_t max);

// The value of one hex digit, either case; -1 for any other character.
int HexDigit(char c);
// "0x1f"; with digits, at least that many ("0x0000001f" for 8).
std::string Hex(uint64_t v, int digits = 0);
// A bound as a message gives it: decimal up to 65535, hex above ("1000",
// "0xffffffff").
std::string Bound(uint64_t v);
// The text between single quotes, anything unprintable as \xNN.
std::string Quoted(std::string_view text);
// The text as it stands where it is printable, anything else as \xNN.
std::string Printable(std::string_view text);

} // namespace text

#endif
