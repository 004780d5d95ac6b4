#include "x86_block.h"

#include "fpu_simd.h"
#include "x86_decoder.h"

#include <algorithm>

namespace emu {

namespace {

bool IsStackPointer(ZydisRegister reg)
{
    return ZydisRegisterGetLargestEnclosing(ZYDIS_MACHINE_MODE_LEGACY_32, reg) == ZYDIS_REGISTER_ESP;
}

bool Writes(const ZydisDecodedOperand &o) { return (o.actions & ZYDIS_OPERAND_ACTION_MASK_WRITE) != 0; }

bool IsEsp(const ZydisDecodedOperand &o) { return o.type == ZYDIS_OPERAND_TYPE_REGISTER && o.reg.value == ZYDIS_REGISTER_ESP; }

// The bytes a push, pop, call or return moves through its hidden [esp]
// operand (a pushad's 32, a far call's 8, a push of a 16-bit value's 2).
int32_t StackSlotBytes(const ZydisDecodedInstruction &in, const ZydisDecodedOperand *operands)
{
    for (uint8_t i = 0; i < in.operand_count; ++i) {
        const ZydisDecodedOperand &o = operands[i];
        if (o.type == ZYDIS_OPERAND_TYPE_MEMORY && o.visibility == ZYDIS_OPERAND_VISIBILITY_HIDDEN &&
            o.mem.base == ZYDIS_REGISTER_ESP)
            return o.size / 8;
    }
    return 0;
}

// What the instruction does to ESP: nothing, a constant move, or a value its
// bytes do not tell (`espKnown` false).
void ReadStackEffect(const ZydisDecodedInstruction &in, const ZydisDecodedOperand *operands, Instruction &r)
{
    bool writes = false, writesAsOperand = false;  // the latter: as a destination the code names
    for (uint8_t i = 0; i < in.operand_count; ++i) {
        const ZydisDecodedOperand &o = operands[i];
        if (o.type == ZYDIS_OPERAND_TYPE_REGISTER && IsStackPointer(o.reg.value) && Writes(o)) {
            writes = true;
            writesAsOperand = writesAsOperand || o.visibility != ZYDIS_OPERAND_VISIBILITY_HIDDEN;
        }
    }
    if (!writes)
        return;
    const int32_t slot = StackSlotBytes(in, operands);
    const ZydisDecodedOperand &first = operands[0], &second = operands[1];
    r.espKnown = false;
    switch (in.meta.category) {
    case ZYDIS_CATEGORY_PUSH:
    case ZYDIS_CATEGORY_CALL:
        r.espKnown = slot != 0 && !writesAsOperand;
        r.espDelta = -slot;
        return;
    case ZYDIS_CATEGORY_POP:  // pop esp sets it from the stack
        r.espKnown = slot != 0 && !writesAsOperand;
        r.espDelta = slot;
        return;
    case ZYDIS_CATEGORY_RET:  // an iret pops more when it changes privilege
        r.espKnown = slot != 0 && in.mnemonic != ZYDIS_MNEMONIC_IRET && in.mnemonic != ZYDIS_MNEMONIC_IRETD;
        r.espDelta = slot + (in.operand_count_visible == 1 ? static_cast<int32_t>(first.imm.value.u) : 0);
        return;
    default: break;
    }
    switch (in.mnemonic) {
    case ZYDIS_MNEMONIC_ENTER:  // the frame pointer pushed and the frame made; nested levels copy more
        r.espKnown = slot != 0 && second.imm.value.u == 0;
        r.espDelta = -slot - static_cast<int32_t>(first.imm.value.u);
        return;
    case ZYDIS_MNEMONIC_ADD:
    case ZYDIS_MNEMONIC_SUB:
        if (IsEsp(first) && second.type == ZYDIS_OPERAND_TYPE_IMMEDIATE) {
            const auto value = static_cast<int32_t>(second.imm.value.s);
            r.espKnown = true;
            r.espDelta = in.mnemonic == ZYDIS_MNEMONIC_ADD ? value : -value;
        }
        return;
    case ZYDIS_MNEMONIC_LEA:  // lea esp, [esp + disp]
        if (IsEsp(first) && second.mem.base == ZYDIS_REGISTER_ESP && second.mem.index == ZYDIS_REGISTER_NONE) {
            r.espKnown = true;
            r.espDelta = static_cast<int32_t>(second.mem.disp.value);
        }
        return;
    case ZYDIS_MNEMONIC_INC:
    case ZYDIS_MNEMONIC_DEC:
        if (IsEsp(first)) {
            r.espKnown = true;
            r.espDelta = in.mnemonic == ZYDIS_MNEMONIC_INC ? 1 : -1;
        }
        return;
    default: return;  // mov esp, ebp; leave; and esp, -16; xchg; sysenter
    }
}

} // namespace

// ESP is written through the stack by the instructions that push, pop, call
// or return, and by enter, leave, sysenter and sysexit; as an operand the
// code names, only where a register field holds 4 (ESP's number): ModRM's
// reg, its r/m when it names a register (mod 3, or a move to or from a
// control or debug register, which ignores mod and is privileged), or the
// opcode's low three bits when the register is in the opcode (no ModRM).
// Other encodings than the legacy one (VEX and the like) are not looked into.
bool MayWriteStackPointer(const ZydisDecodedInstruction &in)
{
    if (in.encoding != ZYDIS_INSTRUCTION_ENCODING_LEGACY)
        return true;
    switch (in.meta.category) {
    case ZYDIS_CATEGORY_PUSH:
    case ZYDIS_CATEGORY_POP:
    case ZYDIS_CATEGORY_CALL:
    case ZYDIS_CATEGORY_RET: return true;
    default: break;
    }
    switch (in.mnemonic) {
    case ZYDIS_MNEMONIC_ENTER:
    case ZYDIS_MNEMONIC_LEAVE:
    case ZYDIS_MNEMONIC_SYSENTER:
    case ZYDIS_MNEMONIC_SYSEXIT: return true;
    default: break;
    }
    constexpr uint8_t kEsp = 4;
    if ((in.attributes & ZYDIS_ATTRIB_HAS_MODRM) == 0)
        return (in.opcode & 7) == kEsp;
    const bool rmIsRegister = in.raw.modrm.mod == 3 || (in.attributes & ZYDIS_ATTRIB_IS_PRIVILEGED) != 0;
    return in.raw.modrm.reg == kEsp || (rmIsRegister && in.raw.modrm.rm == kEsp);
}

Instruction ReadInstruction(const uint8_t *bytes, size_t size)
{
    ZydisDecoderContext context;
    ZydisDecodedInstruction in;
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&I386Decoder(), &context, bytes, size, &in)))
        return {};
    Instruction r;
    r.length = in.length;
    bool operandsMayTell = false;
    r.registerFile = FpuOrSimdUseByKind(in, operandsMayTell);
    if (!operandsMayTell && !MayWriteStackPointer(in))
        return r;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&I386Decoder(), &context, &in, operands, in.operand_count)))
        return {};
    if (operandsMayTell)
        r.registerFile = FpuOrSimdUseByOperands(in, operands);
    ReadStackEffect(in, operands, r);
    return r;
}

BlockReading ReadBlock(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop)
{
    BlockReading r;
    int32_t esp = 0;
    while (r.read < size) {
        if (stop(r.read))
            return r;
        const Instruction in = ReadInstruction(bytes + r.read, size - r.read);
        if (in.length == 0 || in.registerFile != nullptr)
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

} // namespace emu
