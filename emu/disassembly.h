// One instruction of i386 code as a line of Intel syntax, for messages that
// name the instruction a fault or a broken rule happened at.
#ifndef ZERVAL_EMU_DISASSEMBLY_H
#define ZERVAL_EMU_DISASSEMBLY_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace emu {

// The instruction at `bytes` (at most `size` of them), which lies at
// `address`: "mov dword ptr [eax+0x10], 0xdeadbeef", "call 0x1001040" (a
// branch's target absolute), every memory operand with its width, numbers in
// lower-case hex.  Bytes that are no whole instruction give "(bytes not
// decodable: 0f 36)", at most 15 of them.
std::string Disassemble(const uint8_t *bytes, size_t size, uint32_t address);

} // namespace emu

#endif
