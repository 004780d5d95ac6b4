// The emulator's block reader as it was before it read code with Zydis: hand
// tables of the one-byte and 0F opcode maps and a hand classifier of the x87,
// MMX, SSE and AVX encodings.  Kept only for zerval-tooling-bench, which
// times it beside the emulator's reader (emu/x86_block.h) on the same blocks;
// nothing else may use it.
#ifndef ZERVAL_BENCH_LEGACY_BLOCK_READER_H
#define ZERVAL_BENCH_LEGACY_BLOCK_READER_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "x86_block.h"

namespace legacy {

// As emu::ReadInstruction, without `registerFile`.
emu::Instruction ReadInstruction(const uint8_t *bytes, size_t size);
// As emu::FpuOrSimdUse.
const char *FpuOrSimdUse(const uint8_t *bytes, size_t size);
// As emu::ReadBlock.
emu::BlockReading ReadBlock(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop);

} // namespace legacy

#endif
