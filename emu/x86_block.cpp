#include "x86_block.h"

#include "fpu_simd.h"
#include "x86_decoder.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

namespace {

// One instruction of a block read with nothing watched: where it begins and
// ends, and ESP at its start, relative to ESP at the block's start.
struct Step {
    uint32_t offset;
    uint32_t end;
    int32_t esp;
};

// The block's instructions up to the first the reading cannot account for
// (that one included when it leaves ESP unknown).
std::vector<Step> ReadSteps(const uint8_t *bytes, uint32_t size)
{
    std::vector<Step> steps;
    int32_t esp = 0;
    for (uint32_t at = 0; at < size;) {
        const Instruction in = ReadInstruction(bytes + at, size - at);
        if (in.length == 0 || in.registerFile != nullptr)
            break;
        steps.push_back(Step{at, at + in.length, esp});
        at += in.length;
        if (!in.espKnown)
            break;
        esp += in.espDelta;
    }
    return steps;
}

// The code of an image is the same on every machine a process makes, so
// each block's bytes are read once (per thread) and their reading kept,
// looked up by the bytes themselves.  A process that makes up code (a
// fuzzer's) starts over when the blocks kept are this many.
constexpr size_t kMostBlocksKept = 16384;

struct BytesHash {
    using is_transparent = void;
    size_t operator()(std::string_view bytes) const { return std::hash<std::string_view>{}(bytes); }
};

const std::vector<Step> &KeptSteps(const uint8_t *bytes, uint32_t size)
{
    thread_local std::unordered_map<std::string, std::vector<Step>, BytesHash, std::equal_to<>> kept;
    const std::string_view key(reinterpret_cast<const char *>(bytes), size);
    if (auto it = kept.find(key); it != kept.end())
        return it->second;
    if (kept.size() >= kMostBlocksKept)
        kept.clear();
    return kept.emplace(std::string(key), ReadSteps(bytes, size)).first->second;
}

// What the machine watches cuts the reading short before the first
// instruction it watches.
BlockReading Cut(const std::vector<Step> &steps, const std::function<bool(uint32_t offset)> &stop)
{
    BlockReading r;
    for (const Step &s : steps) {
        if (stop(s.offset))
            break;
        r.lowestEsp = std::min(r.lowestEsp, s.esp);
        r.lastOffset = s.offset;
        r.read = s.end;
        ++r.instructions;
    }
    return r;
}

} // namespace

BlockReading ReadBlock(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop)
{
    if (size == 0 || stop(0))
        return {};  // all of it watched (a neighbour's code): nothing to read
    return Cut(KeptSteps(bytes, size), stop);
}

BlockReading ReadBlockAfresh(const uint8_t *bytes, uint32_t size, const std::function<bool(uint32_t offset)> &stop)
{
    return Cut(ReadSteps(bytes, size), stop);
}

} // namespace emu
