#include "fpu_simd.h"

#include "x86_decoder.h"

namespace emu {

namespace {

constexpr const char *kX87 = "x87";
constexpr const char *kMmxSse = "MMX/SSE";
constexpr const char *kAvx = "AVX";

} // namespace

// Where the encoding, category and ISA set do not tell, only an instruction
// of an extension to the base set can name an MMX or SSE register (crc32,
// movnti and the fences are such extensions and name none).
const char *FpuOrSimdUseByKind(const ZydisDecodedInstruction &in, bool &operandsMayTell)
{
    operandsMayTell = false;
    switch (in.encoding) {
    case ZYDIS_INSTRUCTION_ENCODING_VEX:
    case ZYDIS_INSTRUCTION_ENCODING_EVEX:
    case ZYDIS_INSTRUCTION_ENCODING_XOP:
    case ZYDIS_INSTRUCTION_ENCODING_MVEX: return kAvx;
    case ZYDIS_INSTRUCTION_ENCODING_3DNOW: return kMmxSse;
    default: break;
    }
    switch (in.meta.category) {
    case ZYDIS_CATEGORY_X87_ALU:
    case ZYDIS_CATEGORY_FCMOV: return kX87;  // fwait among them
    case ZYDIS_CATEGORY_MMX:
    case ZYDIS_CATEGORY_AMD3DNOW: return kMmxSse;  // emms and femms name no register
    default: break;
    }
    switch (in.meta.isa_set) {
    case ZYDIS_ISA_SET_FXSAVE:
    case ZYDIS_ISA_SET_XSAVE:
    case ZYDIS_ISA_SET_XSAVEC:
    case ZYDIS_ISA_SET_XSAVEOPT:
    case ZYDIS_ISA_SET_XSAVES: return kMmxSse;  // the register files saved or restored whole
    default: break;
    }
    operandsMayTell = in.meta.isa_ext != ZYDIS_ISA_EXT_BASE;
    return nullptr;
}

const char *FpuOrSimdUseByOperands(const ZydisDecodedInstruction &in, const ZydisDecodedOperand *operands)
{
    for (uint8_t i = 0; i < in.operand_count; ++i) {
        if (operands[i].type != ZYDIS_OPERAND_TYPE_REGISTER)
            continue;
        const ZydisRegister reg = operands[i].reg.value;
        switch (ZydisRegisterGetClass(reg)) {
        case ZYDIS_REGCLASS_X87: return kX87;
        case ZYDIS_REGCLASS_MMX:
        case ZYDIS_REGCLASS_XMM: return kMmxSse;
        case ZYDIS_REGCLASS_YMM:
        case ZYDIS_REGCLASS_ZMM: return kAvx;
        default: break;
        }
        if (reg == ZYDIS_REGISTER_MXCSR)
            return kMmxSse;  // ldmxcsr, stmxcsr
    }
    return nullptr;
}

// Decodes the operands only where the instruction alone does not tell: this
// runs for every instruction the machine watches.
const char *FpuOrSimdUse(const uint8_t *bytes, size_t size)
{
    ZydisDecoderContext context;
    ZydisDecodedInstruction in;
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&I386Decoder(), &context, bytes, size, &in)))
        return nullptr;
    bool operandsMayTell = false;
    const char *use = FpuOrSimdUseByKind(in, operandsMayTell);
    if (!operandsMayTell)
        return use;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&I386Decoder(), &context, &in, operands, in.operand_count)))
        return nullptr;
    return FpuOrSimdUseByOperands(in, operands);
}

} // namespace emu
