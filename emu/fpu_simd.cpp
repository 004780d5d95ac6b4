#include "fpu_simd.h"

namespace emu {

namespace {

bool IsPrefix(uint8_t b)
{
    switch (b) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:  // segments
    case 0x66: case 0x67:                                              // operand, address size
    case 0xF0: case 0xF2: case 0xF3:                                   // lock, repne, rep
        return true;
    default:
        return false;
    }
}

// Second bytes of 0F xx opcodes that work on MMX or XMM registers (or the
// x87/SSE state as a whole).
bool IsSimdTwoByte(uint8_t op)
{
    return (op >= 0x10 && op <= 0x17) ||  // movups .. movhps
           (op >= 0x28 && op <= 0x2F) ||  // movaps .. comiss
           op == 0x0F ||                  // 3DNow!
           op == 0x38 || op == 0x3A ||    // SSSE3 / SSE4 three-byte maps
           (op >= 0x50 && op <= 0x7F) ||  // SSE arithmetic, MMX, emms
           op == 0xAE ||                  // fxsave, fxrstor, ldmxcsr, stmxcsr, fences
           (op >= 0xC2 && op <= 0xC6) ||  // cmpps, movnti, pinsrw, pextrw, shufps
           op >= 0xD0;                    // MMX / SSE2 integer
}

} // namespace

const char *FpuOrSimdUse(const uint8_t *bytes, size_t size)
{
    size_t i = 0;
    while (i < size && IsPrefix(bytes[i]))
        ++i;
    if (i == size)
        return nullptr;
    const uint8_t op = bytes[i];
    if ((op >= 0xD8 && op <= 0xDF) || op == 0x9B)  // escape to the coprocessor, fwait
        return "x87";
    if (op == 0x0F && i + 1 < size && IsSimdTwoByte(bytes[i + 1]))
        return "MMX/SSE";
    return nullptr;
}

} // namespace emu
