// Kernel code on 32-bit Windows may not touch the x87, MMX or SSE registers
// without saving them first; the emulated CPU refuses every instruction that
// does.  This tells such an instruction from its bytes.
#ifndef ZERVAL_EMU_FPU_SIMD_H
#define ZERVAL_EMU_FPU_SIMD_H

#include <Zydis/DecoderTypes.h>

#include <cstddef>
#include <cstdint>

namespace emu {

// The register file an instruction uses ("x87", "MMX/SSE" or "AVX"), or
// nullptr for an ordinary integer instruction or bytes that are none.
// `bytes` begins with one whole instruction, prefixes included.
const char *FpuOrSimdUse(const uint8_t *bytes, size_t size);

// The same of an instruction already decoded, in two steps, so that its
// operands need be decoded only where they may tell: what its encoding,
// category and ISA set tell (`operandsMayTell` true where they do not, but
// its operands may name such a register), and what its operands (all of
// them, the hidden ones included) name.
const char *FpuOrSimdUseByKind(const ZydisDecodedInstruction &instruction, bool &operandsMayTell);
const char *FpuOrSimdUseByOperands(const ZydisDecodedInstruction &instruction, const ZydisDecodedOperand *operands);

} // namespace emu

#endif
