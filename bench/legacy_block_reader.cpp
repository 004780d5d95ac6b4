// The hand-written reader, unchanged but for its namespace (see legacy_block_reader.h).
#include "legacy_block_reader.h"

#include <algorithm>

namespace legacy {

using emu::BlockReading;
using emu::Instruction;

namespace {

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

constexpr int kEsp = 4;  // the register number of ESP in ModRM and SIB

enum class Imm { None, Byte, Word, Full, EnterArgs, FarPointer, Offset };

// What a ModRM instruction writes: its r/m operand, its reg operand, both.
enum Writes : uint8_t { kNone = 0, kRm = 1, kReg = 2, kBoth = 3 };

struct Opcode {
    bool known = false;
    bool modrm = false;
    Imm imm = Imm::None;
    uint8_t writes = kNone;  // of a full-width (not byte) operand
};

Opcode Plain(Imm imm = Imm::None) { return Opcode{true, false, imm, kNone}; }
Opcode WithModrm(uint8_t writes, Imm imm = Imm::None) { return Opcode{true, true, imm, writes}; }

Opcode OneByte(uint8_t op)
{
    if (op < 0x40 && (op & 7) < 6) {  // the eight ALU groups: add, or, adc, sbb, and, sub, xor, cmp
        const bool cmp = op >= 0x38;
        switch (op & 7) {
        case 0: case 2: return WithModrm(kNone);                // byte operands
        case 1: return WithModrm(cmp ? kNone : kRm);
        case 3: return WithModrm(cmp ? kNone : kReg);
        case 4: return Plain(Imm::Byte);
        default: return Plain(Imm::Full);
        }
    }
    if (op < 0x40)
        return Plain();  // push/pop of segment registers, daa and the like (the prefixes never get here)
    if (op < 0x62)
        return Plain();  // inc, dec, push, pop of registers, pusha, popa
    switch (op) {
    case 0x62: return WithModrm(kNone);                        // bound
    case 0x63: return WithModrm(kRm);                          // arpl
    case 0x68: return Plain(Imm::Full);
    case 0x69: return WithModrm(kReg, Imm::Full);
    case 0x6A: return Plain(Imm::Byte);
    case 0x6B: return WithModrm(kReg, Imm::Byte);
    case 0x80: case 0x82: return WithModrm(kNone, Imm::Byte);
    case 0x81: return WithModrm(kRm, Imm::Full);               // ESP effect worked out below
    case 0x83: return WithModrm(kRm, Imm::Byte);
    case 0x84: case 0x85: case 0x86: case 0x88: case 0x8A: return WithModrm(kNone);
    case 0x87: return WithModrm(kBoth);
    case 0x89: case 0x8C: return WithModrm(kRm);
    case 0x8B: return WithModrm(kReg);
    case 0x8D: return WithModrm(kReg);                         // lea; [esp + disp] worked out below
    case 0x8E: return WithModrm(kNone);
    case 0x8F: return WithModrm(kRm);
    case 0x9A: case 0xEA: return Plain(Imm::FarPointer);
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: return Plain(Imm::Offset);
    case 0xA8: return Plain(Imm::Byte);
    case 0xA9: return Plain(Imm::Full);
    case 0xC0: return WithModrm(kNone, Imm::Byte);
    case 0xC1: return WithModrm(kRm, Imm::Byte);
    case 0xC2: case 0xCA: return Plain(Imm::Word);
    case 0xC4: case 0xC5: return WithModrm(kReg);              // les, lds
    case 0xC6: return WithModrm(kNone, Imm::Byte);
    case 0xC7: return WithModrm(kRm, Imm::Full);
    case 0xC8: return Plain(Imm::EnterArgs);
    case 0xCD: case 0xD4: case 0xD5: return Plain(Imm::Byte);
    case 0xD0: case 0xD2: return WithModrm(kNone);
    case 0xD1: case 0xD3: return WithModrm(kRm);
    case 0xE8: case 0xE9: return Plain(Imm::Full);
    case 0xEB: return Plain(Imm::Byte);
    case 0xF6: return WithModrm(kNone);                         // the immediate of test: below
    case 0xF7: return WithModrm(kRm);
    case 0xFE: return WithModrm(kNone);
    case 0xFF: return WithModrm(kRm);
    default: break;
    }
    if ((op >= 0x6C && op <= 0x6F) || (op >= 0x90 && op <= 0x9F && op != 0x9A) || (op >= 0xA4 && op <= 0xAF) ||
        op == 0xC3 || op == 0xC9 || op == 0xCB || op == 0xCC || op == 0xCE || op == 0xCF || op == 0xD6 ||
        op == 0xD7 || (op >= 0xEC && op <= 0xEF) || op == 0xF1 || op == 0xF4 || op == 0xF5 || op >= 0xF8)
        return Plain();
    if ((op >= 0x70 && op <= 0x7F) || (op >= 0xB0 && op <= 0xB7) || (op >= 0xE0 && op <= 0xE7))
        return Plain(Imm::Byte);
    if (op >= 0xB8 && op <= 0xBF)
        return Plain(Imm::Full);
    return Opcode{};  // the x87 escapes and whatever else: not read here
}

// The 0F map, integer instructions only (the machine refuses the rest).
Opcode TwoByte(uint8_t op)
{
    switch (op) {
    case 0x00: case 0x01: return WithModrm(kRm);
    case 0x02: case 0x03: return WithModrm(kReg);              // lar, lsl
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0B: return Plain();
    case 0x0D: return WithModrm(kNone);                         // prefetch
    case 0x20: case 0x21: return WithModrm(kRm);                // mov r32, cr/dr
    case 0x22: case 0x23: return WithModrm(kNone);
    case 0xA0: case 0xA1: case 0xA2: case 0xA8: case 0xA9: case 0xAA: return Plain();
    case 0xA3: return WithModrm(kNone);                         // bt
    case 0xA4: case 0xAC: return WithModrm(kRm, Imm::Byte);     // shld, shrd
    case 0xA5: case 0xAB: case 0xAD: case 0xB1: case 0xB3: case 0xBB: return WithModrm(kRm);
    case 0xAF: case 0xB2: case 0xB4: case 0xB5: case 0xB6: case 0xB7: case 0xB8: case 0xBC: case 0xBD:
    case 0xBE: case 0xBF: return WithModrm(kReg);
    case 0xAE: case 0xB0: case 0xB9: case 0xC0: case 0xC3: case 0xFF: return WithModrm(kNone);
    case 0xBA: return WithModrm(kRm, Imm::Byte);
    case 0xC1: return WithModrm(kBoth);                         // xadd
    case 0xC7: return WithModrm(kRm);                           // cmpxchg8b, rdrand
    case 0x78: case 0x79: return WithModrm(kBoth);              // vmread, vmwrite
    default: break;
    }
    if (op >= 0x18 && op <= 0x1F)
        return WithModrm(kNone);  // hints, nop r/m
    if (op >= 0x30 && op <= 0x37)
        return Plain();
    if (op >= 0x40 && op <= 0x4F)
        return WithModrm(kReg);  // cmovcc
    if (op >= 0x80 && op <= 0x8F)
        return Plain(Imm::Full);  // jcc rel32
    if (op >= 0x90 && op <= 0x9F)
        return WithModrm(kNone);  // setcc, a byte
    if (op >= 0xC8 && op <= 0xCF)
        return Plain();  // bswap
    return Opcode{};
}

// The bytes of a ModRM operand (ModRM, SIB, displacement) at `p`; 0 past `end`.
uint32_t ModrmLength(const uint8_t *p, const uint8_t *end, bool address16)
{
    if (p >= end)
        return 0;
    const uint8_t mod = *p >> 6, rm = *p & 7;
    uint32_t n = 1;
    if (address16) {
        n += mod == 1 ? 1 : mod == 2 ? 2 : mod == 0 && rm == 6 ? 2 : 0;
    } else {
        if (mod != 3 && rm == kEsp) {
            if (p + 1 >= end)
                return 0;
            ++n;
            if (mod == 0 && (p[1] & 7) == 5)
                n += 4;
        }
        n += mod == 1 ? 1 : mod == 2 ? 4 : mod == 0 && rm == 5 ? 4 : 0;
    }
    return p + n <= end ? n : 0;
}

int32_t Signed(const uint8_t *p, uint32_t bytes)
{
    if (bytes == 1)
        return static_cast<int8_t>(p[0]);
    if (bytes == 2)
        return static_cast<int16_t>(p[0] | p[1] << 8);
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
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

Instruction ReadInstruction(const uint8_t *bytes, size_t size)
{
    const uint8_t *p = bytes, *const end = bytes + size;
    bool operand16 = false, address16 = false;
    for (; p < end && IsLegacyPrefix(*p); ++p) {
        operand16 = operand16 || *p == 0x66;
        address16 = address16 || *p == 0x67;
    }
    if (p >= end || p - bytes > 14)
        return {};
    const uint8_t first = *p++;
    const bool escape = first == 0x0F;
    uint8_t op = first;
    Opcode o;
    if (escape) {
        if (p >= end)
            return {};
        op = *p++;
        if (op == 0x38) {  // the three-byte map: only movbe and crc32 are integer instructions
            if (p >= end || (*p != 0xF0 && *p != 0xF1))
                return {};
            ++p;
            o = WithModrm(kReg);
        } else {
            o = TwoByte(op);
        }
    } else {
        o = OneByte(op);
    }
    if (!o.known)
        return {};

    const uint8_t *const modrm = p;
    const uint8_t mod = o.modrm && p < end ? *p >> 6 : 0, reg = o.modrm && p < end ? (*p >> 3) & 7 : 0,
                  rm = o.modrm && p < end ? *p & 7 : 0;
    if (o.modrm) {
        const uint32_t n = ModrmLength(p, end, address16);
        if (n == 0)
            return {};
        p += n;
    }
    const uint32_t full = operand16 ? 2 : 4;
    uint32_t imm = 0;
    switch (o.imm) {
    case Imm::None: break;
    case Imm::Byte: imm = 1; break;
    case Imm::Word: imm = 2; break;
    case Imm::Full: imm = full; break;
    case Imm::EnterArgs: imm = 3; break;
    case Imm::FarPointer: imm = full + 2; break;
    case Imm::Offset: imm = address16 ? 2 : 4; break;
    }
    if (!escape && (op == 0xF6 || op == 0xF7) && reg <= 1)  // test r/m, imm
        imm = op == 0xF6 ? 1 : full;
    if (p + imm > end)
        return {};
    const uint8_t *const immediate = p;
    p += imm;

    Instruction in;
    in.length = static_cast<uint32_t>(p - bytes);
    const int32_t word = static_cast<int32_t>(full);
    // Everything that moves ESP by a constant, and everything that may write
    // it otherwise.
    const bool rmIsEsp = o.modrm && mod == 3 && rm == kEsp;
    if (escape) {
        if (op == 0xA0 || op == 0xA8)
            in.espDelta = -word;
        else if (op == 0xA1 || op == 0xA9)
            in.espDelta = word;
        else if (op == 0xC8 + kEsp || ((o.writes & kRm) && rmIsEsp) || ((o.writes & kReg) && reg == kEsp))
            in.espKnown = false;
        return in;
    }
    if (op >= 0x50 && op <= 0x57)
        in.espDelta = -word;  // push r32 (push esp pushes the value before)
    else if (op >= 0x58 && op <= 0x5F)
        in.espDelta = word;   // pop r32; pop esp below
    switch (op) {
    case 0x06: case 0x0E: case 0x16: case 0x1E: case 0x68: case 0x6A: case 0x9C: case 0xE8: in.espDelta = -word; break;
    case 0x07: case 0x17: case 0x1F: case 0x9D: in.espDelta = word; break;
    case 0x60: in.espDelta = -8 * word; break;
    case 0x61: in.espDelta = 8 * word; break;
    case 0x9A: in.espDelta = -2 * word; break;
    case 0xC3: in.espDelta = word; break;
    case 0xC2: in.espDelta = word + (immediate[0] | immediate[1] << 8); break;
    case 0xCB: in.espDelta = 2 * word; break;
    case 0xCA: in.espDelta = 2 * word + (immediate[0] | immediate[1] << 8); break;
    case 0xC8:
        if (immediate[2] == 0)
            in.espDelta = -word - (immediate[0] | immediate[1] << 8);
        else
            in.espKnown = false;
        break;
    case 0x40 + kEsp: in.espDelta = 1; break;
    case 0x48 + kEsp: in.espDelta = -1; break;
    case 0x58 + kEsp: case 0x90 + kEsp: case 0xB8 + kEsp: case 0xC9: case 0xCF: in.espKnown = false; break;
    case 0x81: case 0x83:
        if (rmIsEsp && !operand16 && (reg == 0 || reg == 5)) {
            const int32_t v = Signed(immediate, imm);
            in.espDelta = reg == 0 ? v : -v;
        } else if (rmIsEsp && reg != 7) {
            in.espKnown = false;
        }
        break;
    case 0x8D:
        if (reg == kEsp) {
            // lea esp, [esp + disp]: the one form that is a constant move
            const uint8_t sib = modrm[1];
            const bool espPlus = !address16 && (mod == 1 || mod == 2) && rm == kEsp && (sib & 7) == kEsp &&
                                 ((sib >> 3) & 7) == kEsp;
            if (espPlus && !operand16)
                in.espDelta = Signed(modrm + 2, mod == 1 ? 1 : 4);
            else
                in.espKnown = false;
        }
        break;
    case 0x8F:
        if (rmIsEsp)
            in.espKnown = false;
        else
            in.espDelta = word;
        break;
    case 0xFF:
        if (reg == 2 || reg == 6)
            in.espDelta = -word;  // call, push r/m
        else if (reg == 3)
            in.espDelta = -2 * word;
        else if (rmIsEsp && reg <= 1)
            in.espKnown = false;
        break;
    case 0xF7:
        if (rmIsEsp && (reg == 2 || reg == 3))
            in.espKnown = false;
        break;
    default:
        if (((o.writes & kRm) && rmIsEsp) || ((o.writes & kReg) && reg == kEsp))
            in.espKnown = false;
        break;
    }
    return in;
}

BlockReading ReadBlock(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop)
{
    BlockReading r;
    int32_t esp = 0;
    while (r.read < size) {
        if (stop(r.read) || FpuOrSimdUse(bytes + r.read, std::min<uint32_t>(size - r.read, 15)) != nullptr)
            return r;
        const Instruction in = ReadInstruction(bytes + r.read, size - r.read);
        if (in.length == 0)
            return r;
        r.lowestEsp = std::min(r.lowestEsp, esp);
        r.lastOffset = r.read;
        r.read += in.length;
        ++r.instructions;
        if (!in.espKnown)
            return r;
        esp += in.espDelta;
    }
    return r;
}

} // namespace legacy
