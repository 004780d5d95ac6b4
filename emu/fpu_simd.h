// Kernel code on 32-bit Windows may not touch the x87, MMX or SSE registers
// without saving them first; the emulated CPU refuses every instruction that
// does.  This tells such an instruction from its bytes.
#ifndef ZERVAL_EMU_FPU_SIMD_H
#define ZERVAL_EMU_FPU_SIMD_H

#include <cstddef>
#include <cstdint>

namespace emu {

// The register file an instruction uses, or nullptr for an ordinary integer
// instruction.  `bytes` is one whole instruction, prefixes included.
const char *FpuOrSimdUse(const uint8_t *bytes, size_t size);

// The prefixes an i386 instruction may begin with: segment, operand and
// address size, lock and the repeats.
bool IsLegacyPrefix(uint8_t b);

} // namespace emu

#endif
