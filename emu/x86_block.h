// What the machine needs to know of a block of i386 code the engine is about
// to run, read once from its bytes: how many instructions it holds, where the
// last begins, how each moves the stack pointer, and where its first
// instruction lies that the block's static reading cannot account for (an
// x87/MMX/SSE/AVX instruction, one that sets ESP from something other than a
// constant, or bytes that are no instruction).  From there on the machine
// looks at each instruction as it runs.
#ifndef ZERVAL_EMU_X86_BLOCK_H
#define ZERVAL_EMU_X86_BLOCK_H

#include <Zydis/DecoderTypes.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace emu {

struct BlockReading {
    uint32_t instructions = 0;  // read statically, from the block's start
    uint32_t read = 0;          // their bytes: where the rest (if any) begins
    uint32_t lastOffset = 0;    // of the last of them
    // The lowest ESP at the start of any of them, relative to ESP at the
    // block's start (0 or below).
    int32_t lowestEsp = 0;
};

// The one instruction at `bytes` (at most `size` bytes): its length, what it
// does to ESP (`espDelta` when that is a constant, `espKnown` false when it
// is not: mov esp, ebp; leave; and esp, -16; pop esp), and the register file
// it uses that kernel code may not (fpu_simd.h), if any.  Length 0 when the
// bytes are no instruction, or one longer than `size`.
struct Instruction {
    uint32_t length = 0;
    int32_t espDelta = 0;
    bool espKnown = true;
    const char *registerFile = nullptr;
};
Instruction ReadInstruction(const uint8_t *bytes, size_t size);

// Whether an instruction, decoded without its operands, may write ESP: false
// only where none of its operands (the hidden ones included) can be ESP
// written.  Decoding the operands costs about as much again as the rest, so
// ReadInstruction decodes them only where this (or the register file, see
// fpu_simd.h) says they may tell something.
bool MayWriteStackPointer(const ZydisDecodedInstruction &instruction);

// Reads the block up to the first instruction that is a floating-point or
// SIMD one, that leaves ESP unknown (that one is read, what follows is not),
// that is no instruction, or whose address `stop(offset)` says the machine
// watches itself.  The reading of the same bytes is kept for the rest of the
// process (the code of an image is the same on every machine).
BlockReading ReadBlock(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop);

// The same, the bytes read again however often they were before: for
// measuring the reading itself.
BlockReading ReadBlockAfresh(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop);

} // namespace emu

#endif
