#include "fpu_simd.h"

namespace emu {

bool IsLegacyPrefix(uint8_t b)
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

namespace {

// ModRM with mod = 11: a register operand.
bool RegisterForm(uint8_t modrm) { return (modrm & 0xC0) == 0xC0; }

// The 0F xx map.  `next` is the byte after the opcode (ModRM or the third
// opcode byte), `sizeOrRepeat` whether a 66 or F2 prefix stands before it.
bool SimdTwoByte(uint8_t op, uint8_t next, bool sizeOrRepeat)
{
    if ((op >= 0x10 && op <= 0x17) ||  // movups .. movhps
        (op >= 0x28 && op <= 0x2F) ||  // movaps .. comiss
        op == 0x0E || op == 0x0F ||    // femms, 3DNow!
        op == 0x3A ||                  // SSSE3 / SSE4 three-byte map
        (op >= 0x50 && op <= 0x77) ||  // SSE arithmetic, MMX, emms
        (op >= 0x7C && op <= 0x7F) ||  // haddpd .. movq
        op == 0xC2 || (op >= 0xC4 && op <= 0xC6) ||  // cmpps, pinsrw, pextrw, shufps
        (op >= 0xD0 && op <= 0xFE))                  // MMX / SSE2 integer
        return true;
    if (op == 0x38)  // the three-byte map, but for movbe and crc32 (F0, F1)
        return next < 0xF0;
    if (op == 0x78 || op == 0x79)  // extrq, insertq; vmread, vmwrite without a prefix
        return sizeOrRepeat;
    if (op == 0xAE)  // fxsave .. xsaveopt on memory; the fences and clflush are not
        return !RegisterForm(next) && ((next >> 3) & 7) <= 6;
    return false;
}

} // namespace

const char *FpuOrSimdUse(const uint8_t *bytes, size_t size)
{
    size_t i = 0;
    bool sizeOrRepeat = false;
    while (i < size && IsLegacyPrefix(bytes[i])) {
        sizeOrRepeat = sizeOrRepeat || bytes[i] == 0x66 || bytes[i] == 0xF2;
        ++i;
    }
    if (i == size)
        return nullptr;
    const uint8_t op = bytes[i];
    const uint8_t next = i + 1 < size ? bytes[i + 1] : 0;
    if ((op >= 0xD8 && op <= 0xDF) || op == 0x9B)  // escape to the coprocessor, fwait
        return "x87";
    // In 32-bit code C4, C5 and 62 are les, lds and bound unless a register
    // form follows: then they open a VEX or EVEX instruction.
    if ((op == 0xC4 || op == 0xC5 || op == 0x62) && i + 1 < size && RegisterForm(next))
        return "AVX";
    if (op == 0x0F && i + 1 < size && SimdTwoByte(next, i + 2 < size ? bytes[i + 2] : 0, sizeOrRepeat))
        return "MMX/SSE";
    return nullptr;
}

} // namespace emu
