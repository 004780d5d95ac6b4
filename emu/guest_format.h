// A debug print's text, formatted from the guest as the kernel's DbgPrint
// formats it: the format string and its arguments read from guest memory
// (i386, each argument a 4-byte slot, a 64-bit one two).  Conversions: c, C,
// d, i, u, x, X, o, p, s, S, Z (an ANSI_STRING or, with w, a UNICODE_STRING)
// and %%; flags - + 0 space #; width and precision as numbers or * (at most
// 512; a negative width left-justifies, a negative precision is none); sizes
// h, hh, l, ll, w and I64.  Every read is bounded; a conversion it does not
// know is shown as written.
#ifndef ZERVAL_EMU_GUEST_FORMAT_H
#define ZERVAL_EMU_GUEST_FORMAT_H

#include <cstdint>
#include <functional>
#include <string>

namespace emu {

// Reads `size` bytes of guest memory at an address (throws when it cannot).
using GuestReader = std::function<void(uint32_t address, void *out, uint32_t size)>;

constexpr size_t kLongestDebugText = 4096;  // what a print may show
constexpr size_t kLongestDebugString = 1024;  // what a %s may take

// The text of the format at `format`, its first argument at `args`.
std::string FormatGuest(const GuestReader &read, uint32_t format, uint32_t args);

} // namespace emu

#endif
