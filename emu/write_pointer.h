// The pointer an instruction writes memory through: the value of the base
// register (plus the scaled index) of the memory operand it writes, its
// displacement left out.  What tells a write past the end of a record, made
// through the record's own address, from a write through another pointer.
#ifndef ZERVAL_EMU_WRITE_POINTER_H
#define ZERVAL_EMU_WRITE_POINTER_H

#include <cstddef>
#include <cstdint>
#include <optional>

struct uc_struct;

namespace emu {

// For the instruction whose bytes are `code` (at most `size`), with the
// registers as the engine holds them; nothing when it writes no memory
// through a register (an absolute address, or no memory at all) or cannot
// be decoded.
std::optional<uint32_t> WritePointer(uc_struct *uc, const uint8_t *code, size_t size);

} // namespace emu

#endif
