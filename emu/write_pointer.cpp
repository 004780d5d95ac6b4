#include "write_pointer.h"

#include <Zydis/Zydis.h>
#include <unicorn/unicorn.h>

#include "x86_decoder.h"

namespace emu {

namespace {

// The engine's id of a 32-bit general register; 0 for any other.
int EngineRegister(ZydisRegister r)
{
    switch (r) {
    case ZYDIS_REGISTER_EAX: return UC_X86_REG_EAX;
    case ZYDIS_REGISTER_ECX: return UC_X86_REG_ECX;
    case ZYDIS_REGISTER_EDX: return UC_X86_REG_EDX;
    case ZYDIS_REGISTER_EBX: return UC_X86_REG_EBX;
    case ZYDIS_REGISTER_ESP: return UC_X86_REG_ESP;
    case ZYDIS_REGISTER_EBP: return UC_X86_REG_EBP;
    case ZYDIS_REGISTER_ESI: return UC_X86_REG_ESI;
    case ZYDIS_REGISTER_EDI: return UC_X86_REG_EDI;
    default: return 0;
    }
}

} // namespace

std::optional<uint32_t> WritePointer(uc_struct *uc, const uint8_t *code, size_t size)
{
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeFull(&I386Decoder(), code, size, &instruction, operands)))
        return std::nullopt;
    for (uint8_t i = 0; i < instruction.operand_count; ++i) {
        const ZydisDecodedOperand &o = operands[i];
        if (o.type != ZYDIS_OPERAND_TYPE_MEMORY || (o.actions & ZYDIS_OPERAND_ACTION_MASK_WRITE) == 0)
            continue;
        const int base = EngineRegister(o.mem.base), index = EngineRegister(o.mem.index);
        if (base == 0 && index == 0)
            return std::nullopt;
        uint32_t pointer = 0, value = 0;
        if (base != 0 && uc_reg_read(uc, base, &value) == UC_ERR_OK)
            pointer = value;
        if (index != 0 && uc_reg_read(uc, index, &value) == UC_ERR_OK)
            pointer += value * o.mem.scale;
        return pointer;
    }
    return std::nullopt;
}

} // namespace emu
