// The emulator's reading of i386 code on its own: each instruction's length,
// prefixes included; how it moves ESP (by a constant, or by what its bytes do
// not tell); the register file kernel code may not use; a block read up to
// the first instruction the reading cannot account for; and one instruction
// as a line of Intel syntax.  The expected figures are the processor's own
// (Intel SDM, volume 2), written here by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <Zydis/Decoder.h>

#include "disassembly.h"
#include "fpu_simd.h"
#include "x86_block.h"
#include "x86_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Shown(const Bytes &b)
{
    std::string s;
    for (const uint8_t x : b) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", x);
        s += hex;
    }
    return s;
}

emu::Instruction Read(const Bytes &b) { return emu::ReadInstruction(b.data(), b.size()); }

TEST(X86Reader, InstructionLengthsCountEveryPrefixModrmDisplacementAndImmediate)
{
    const std::pair<Bytes, uint32_t> cases[] = {
        {{0x90}, 1},                                                   // nop
        {{0x89, 0xE5}, 2},                                             // mov ebp, esp
        {{0x8B, 0x44, 0x24, 0x08}, 4},                                 // mov eax, [esp+8]: SIB, disp8
        {{0xC7, 0x40, 0x10, 0xEF, 0xBE, 0xAD, 0xDE}, 7},               // mov dword [eax+0x10], imm32
        {{0xC7, 0x05, 0, 0x10, 0, 0, 1, 0, 0, 0}, 10},                 // mov dword [0x1000], 1: disp32, imm32
        {{0x81, 0xEC, 0x00, 0x10, 0x00, 0x00}, 6},                     // sub esp, 0x1000
        {{0x66, 0xC7, 0x00, 0x34, 0x12}, 5},                           // mov word [eax], 0x1234: a 2-byte immediate
        {{0x66, 0x68, 0x34, 0x12}, 4},                                 // push word 0x1234
        {{0x67, 0x8B, 0x07}, 3},                                       // mov eax, [bx]: 16-bit addressing
        {{0x67, 0x8B, 0x46, 0x10}, 4},                                 // mov eax, [bp+0x10]
        {{0x64, 0xA1, 0, 0, 0, 0}, 6},                                 // mov eax, fs:[0]
        {{0xF0, 0x0F, 0xB1, 0x0A}, 4},                                 // lock cmpxchg [edx], ecx
        {{0xF3, 0xA5}, 2},                                             // rep movsd
        {{0x2E, 0x3E, 0x74, 0x05}, 4},                                 // jz short, with branch hints
        {{0x0F, 0x84, 0, 0, 0, 0}, 6},                                 // jz rel32
        {{0xF6, 0x00, 0x01}, 3},                                       // test byte [eax], 1
        {{0xF7, 0x00, 1, 0, 0, 0}, 6},                                 // test dword [eax], 1
        {{0xF7, 0x10}, 2},                                             // not dword [eax]: no immediate
        {{0xC8, 0x10, 0x00, 0x00}, 4},                                 // enter 0x10, 0
        {{0x9A, 0, 0, 0, 0, 0x08, 0}, 7},                              // call far 0x8:0
        {{0x0F, 0x38, 0xF0, 0x01}, 4},                                 // movbe eax, [ecx]
        {{0xC5, 0xF8, 0x77}, 3},                                       // vzeroupper
    };
    for (const auto &[bytes, length] : cases)
        EXPECT_EQ(Read(bytes).length, length) << Shown(bytes);
}

TEST(X86Reader, BytesThatAreNoWholeInstructionHaveNoLength)
{
    const Bytes cases[] = {
        {0xC7, 0x40, 0x10, 0xEF},  // mov dword [eax+0x10], imm32: cut short
        {0x0F},                    // an escape and nothing after it
        {0x0F, 0x36},              // no instruction
        {0x8D, 0xC0},              // lea with a register operand
        {0xF0, 0x90},              // lock on an instruction that cannot take it
        Bytes(15, 0x66),           // prefixes only
    };
    for (const Bytes &bytes : cases)
        EXPECT_EQ(Read(bytes).length, 0u) << Shown(bytes);
    // Fifteen bytes is the most an instruction may have.
    Bytes longest(14, 0x66);
    longest.push_back(0x90);
    EXPECT_EQ(Read(longest).length, 15u);
    Bytes tooLong(15, 0x66);
    tooLong.push_back(0x90);
    EXPECT_EQ(Read(tooLong).length, 0u);
}

TEST(X86Reader, StackPointerMovesByWhatEachInstructionPushesPopsOrAddsToIt)
{
    const std::pair<Bytes, int32_t> cases[] = {
        {{0x50}, -4},                                       // push eax
        {{0x54}, -4},                                       // push esp
        {{0x58}, 4},                                        // pop eax
        {{0x6A, 0x01}, -4},                                 // push 1: pushed as a dword
        {{0x68, 0, 0, 0, 0}, -4},                           // push imm32
        {{0x66, 0x50}, -2},                                 // push ax
        {{0x66, 0x58}, 2},                                  // pop ax
        {{0xFF, 0x75, 0x08}, -4},                           // push dword [ebp+8]
        {{0x8F, 0x00}, 4},                                  // pop dword [eax]
        {{0x8F, 0x44, 0x24, 0x04}, 4},                      // pop dword [esp+4]
        {{0x60}, -32},                                      // pushad
        {{0x61}, 32},                                       // popad
        {{0x9C}, -4},                                       // pushfd
        {{0x9D}, 4},                                        // popfd
        {{0x0F, 0xA0}, -4},                                 // push fs
        {{0xE8, 0, 0, 0, 0}, -4},                           // call rel32
        {{0xFF, 0x10}, -4},                                 // call [eax]
        {{0x9A, 0, 0, 0, 0, 0x08, 0}, -8},                  // call far: CS and EIP
        {{0xC3}, 4},                                        // ret
        {{0xC2, 0x08, 0x00}, 12},                           // ret 8
        {{0xC2, 0x00, 0x01}, 4 + 256},                      // ret 0x100: a 16-bit count
        {{0xCB}, 8},                                        // retf
        {{0xCA, 0x04, 0x00}, 12},                           // retf 4
        {{0xC8, 0x10, 0x00, 0x00}, -4 - 16},                // enter 0x10, 0: EBP pushed, 16 bytes of frame
        {{0x83, 0xEC, 0x40}, -64},                          // sub esp, 0x40
        {{0x83, 0xEC, 0x80}, 128},                          // sub esp, -128
        {{0x81, 0xEC, 0x00, 0x10, 0x00, 0x00}, -4096},      // sub esp, 0x1000
        {{0x83, 0xC4, 0x08}, 8},                            // add esp, 8
        {{0x83, 0xC4, 0xF0}, -16},                          // add esp, -16
        {{0x8D, 0x64, 0x24, 0x08}, 8},                      // lea esp, [esp+8]
        {{0x8D, 0xA4, 0x24, 0x00, 0xF0, 0xFF, 0xFF}, -4096},  // lea esp, [esp-0x1000]
        {{0x44}, 1},                                        // inc esp
        {{0x4C}, -1},                                       // dec esp
        {{0x89, 0xE0}, 0},                                  // mov eax, esp: read, not written
        {{0x83, 0xFC, 0x08}, 0},                            // cmp esp, 8
        {{0x8B, 0x44, 0x24, 0x04}, 0},                      // mov eax, [esp+4]
        {{0xCD, 0x2E}, 0},                                  // int 0x2e
    };
    for (const auto &[bytes, delta] : cases) {
        const emu::Instruction in = Read(bytes);
        ASSERT_NE(in.length, 0u) << Shown(bytes);
        EXPECT_TRUE(in.espKnown) << Shown(bytes);
        EXPECT_EQ(in.espDelta, delta) << Shown(bytes);
    }
}

TEST(X86Reader, StackPointerSetFromAValueTheBytesDoNotTellIsUnknown)
{
    const Bytes cases[] = {
        {0x89, 0xEC},                    // mov esp, ebp
        {0x8B, 0xE5},                    // mov esp, ebp (the other encoding)
        {0xC9},                          // leave
        {0x83, 0xE4, 0xF0},              // and esp, -16
        {0x5C},                          // pop esp
        {0x8F, 0xC4},                    // pop esp (the r/m form)
        {0x8D, 0x65, 0xFC},              // lea esp, [ebp-4]
        {0x8D, 0x24, 0x04},              // lea esp, [esp+eax]
        {0x87, 0xE0},                    // xchg eax, esp
        {0x29, 0xC4},                    // sub esp, eax
        {0x66, 0x83, 0xC4, 0x08},        // add sp, 8: ESP's upper half kept, the carry lost
        {0x66, 0x8B, 0xE5},              // mov sp, bp
        {0xC8, 0x10, 0x00, 0x01},        // enter 0x10, 1: a nested frame copies frame pointers
        {0xCF},                          // iretd: pops more when it changes privilege
        {0x0F, 0x34},                    // sysenter
        {0xBC, 0, 0, 0, 0},              // mov esp, imm32: a value, not a move
    };
    for (const Bytes &bytes : cases) {
        const emu::Instruction in = Read(bytes);
        ASSERT_NE(in.length, 0u) << Shown(bytes);
        EXPECT_FALSE(in.espKnown) << Shown(bytes);
    }
}

TEST(X86Reader, RegisterFilesKernelCodeMayNotUseAreNamed)
{
    const std::pair<Bytes, const char *> cases[] = {
        {{0xD9, 0xE8}, "x87"},                            // fld1
        {{0x9B}, "x87"},                                  // fwait
        {{0xDA, 0xC1}, "x87"},                            // fcmovb st0, st1
        {{0xDD, 0x01}, "x87"},                            // fld qword [ecx]
        {{0x2E, 0xD9, 0x01}, "x87"},                      // fld dword cs:[ecx]: behind a prefix
        {{0x0F, 0x6F, 0xC1}, "MMX/SSE"},                  // movq mm0, mm1
        {{0x0F, 0x77}, "MMX/SSE"},                        // emms
        {{0x0F, 0x0F, 0xC1, 0xB4}, "MMX/SSE"},            // pfmul mm0, mm1 (3DNow!)
        {{0x0F, 0x57, 0xC0}, "MMX/SSE"},                  // xorps xmm0, xmm0
        {{0x66, 0x0F, 0xEF, 0xC0}, "MMX/SSE"},            // pxor xmm0, xmm0
        {{0xF3, 0x0F, 0x10, 0xC1}, "MMX/SSE"},            // movss xmm0, xmm1
        {{0xF2, 0x0F, 0x2C, 0xC1}, "MMX/SSE"},            // cvttsd2si eax, xmm1: an integer result
        {{0x66, 0x0F, 0x7E, 0xC0}, "MMX/SSE"},            // movd eax, xmm0
        {{0x0F, 0xAE, 0x11}, "MMX/SSE"},                  // ldmxcsr [ecx]
        {{0x0F, 0xAE, 0x01}, "MMX/SSE"},                  // fxsave [ecx]
        {{0x0F, 0xAE, 0x21}, "MMX/SSE"},                  // xsave [ecx]
        {{0xC5, 0xF8, 0x77}, "AVX"},                      // vzeroupper
        {{0xC5, 0xFC, 0x28, 0xC1}, "AVX"},                // vmovaps ymm0, ymm1
        {{0x62, 0xF1, 0x7C, 0x48, 0x10, 0xC1}, "AVX"},    // vmovups zmm0, zmm1 (EVEX)
    };
    for (const auto &[bytes, file] : cases) {
        const char *use = emu::FpuOrSimdUse(bytes.data(), bytes.size());
        ASSERT_NE(use, nullptr) << Shown(bytes);
        EXPECT_EQ(std::string(use), file) << Shown(bytes);
        const emu::Instruction in = Read(bytes);
        ASSERT_NE(in.registerFile, nullptr) << Shown(bytes);
        EXPECT_EQ(std::string(in.registerFile), file) << Shown(bytes);
    }
}

TEST(X86Reader, IntegerInstructionsOfTheExtensionsUseNoRegisterFile)
{
    const Bytes cases[] = {
        {0xF2, 0x0F, 0x38, 0xF1, 0xC1},  // crc32 eax, ecx (SSE4.2, general registers)
        {0x0F, 0xC3, 0x01},              // movnti [ecx], eax (SSE2)
        {0x0F, 0xAE, 0xE8},              // lfence
        {0x0F, 0xAE, 0x39},              // clflush [ecx]
        {0x0F, 0x18, 0x01},              // prefetchnta [ecx]
        {0xF3, 0x0F, 0xB8, 0xC1},        // popcnt eax, ecx
        {0x0F, 0x31},                    // rdtsc
        {0x0F, 0xA2},                    // cpuid
        {0x66, 0x0F, 0xB6, 0x01},        // movzx ax, byte [ecx]
        {0xC4, 0x01},                    // les eax, [ecx]: C4 with a memory operand
        {0x62, 0x01},                    // bound eax, [ecx]
    };
    for (const Bytes &bytes : cases) {
        EXPECT_EQ(emu::FpuOrSimdUse(bytes.data(), bytes.size()), nullptr) << Shown(bytes);
        const emu::Instruction in = Read(bytes);
        EXPECT_NE(in.length, 0u) << Shown(bytes);
        EXPECT_EQ(in.registerFile, nullptr) << Shown(bytes);
    }
}

// Whether one of the operands (the hidden ones included) writes ESP or any
// part of it, and whether one names an x87, MMX, SSE or AVX register (MXCSR
// among them).
struct OperandFacts {
    bool writesEsp = false;
    bool namesRegisterFile = false;
};

OperandFacts FactsOf(const ZydisDecodedInstruction &in, const ZydisDecodedOperand *operands)
{
    OperandFacts f;
    for (uint8_t i = 0; i < in.operand_count; ++i) {
        const ZydisDecodedOperand &o = operands[i];
        if (o.type != ZYDIS_OPERAND_TYPE_REGISTER)
            continue;
        const ZydisRegister reg = o.reg.value;
        f.writesEsp = f.writesEsp || ((o.actions & ZYDIS_OPERAND_ACTION_MASK_WRITE) != 0 &&
                                      ZydisRegisterGetLargestEnclosing(ZYDIS_MACHINE_MODE_LEGACY_32, reg) ==
                                          ZYDIS_REGISTER_ESP);
        switch (ZydisRegisterGetClass(reg)) {
        case ZYDIS_REGCLASS_X87:
        case ZYDIS_REGCLASS_MMX:
        case ZYDIS_REGCLASS_XMM:
        case ZYDIS_REGCLASS_YMM:
        case ZYDIS_REGCLASS_ZMM: f.namesRegisterFile = true; break;
        default: f.namesRegisterFile = f.namesRegisterFile || reg == ZYDIS_REGISTER_MXCSR; break;
        }
    }
    return f;
}

// The reading decodes an instruction's operands only where its kind says
// they may tell something.  Every opcode of every legacy opcode map, behind
// each mandatory or size prefix, with every ModRM byte (a SIB byte of ESP
// and zero bytes after it), is decoded in full here: none whose operands
// write ESP or name a register file may be passed over.
TEST(X86Reader, OperandsAreReadOfEveryInstructionWhoseOperandsMoveEspOrNameARegisterFile)
{
    const Bytes prefixes[] = {{}, {0x66}, {0x67}, {0xF2}, {0xF3}, {0x66, 0xF2}, {0x66, 0xF3}};
    const Bytes maps[] = {{}, {0x0F}, {0x0F, 0x38}, {0x0F, 0x3A}};
    size_t decoded = 0, stackWriters = 0, fileUsers = 0;
    for (const Bytes &prefix : prefixes)
        for (const Bytes &map : maps)
            for (int opcode = 0; opcode < 256; ++opcode)
                for (int modrm = 0; modrm < 256; ++modrm) {
                    Bytes b = prefix;
                    b.insert(b.end(), map.begin(), map.end());
                    b.push_back(static_cast<uint8_t>(opcode));
                    b.push_back(static_cast<uint8_t>(modrm));
                    b.push_back(0x24);
                    b.resize(b.size() + 10, 0);
                    ZydisDecoderContext context;
                    ZydisDecodedInstruction in;
                    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
                    if (!ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&emu::I386Decoder(), &context, b.data(), b.size(), &in)))
                        continue;
                    ASSERT_TRUE(ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&emu::I386Decoder(), &context, &in, operands,
                                                                        in.operand_count)))
                        << Shown(b);
                    ++decoded;
                    const OperandFacts facts = FactsOf(in, operands);
                    if (facts.writesEsp) {
                        ++stackWriters;
                        EXPECT_TRUE(emu::MayWriteStackPointer(in)) << Shown(b);
                    }
                    if (facts.namesRegisterFile) {
                        ++fileUsers;
                        bool operandsMayTell = false;
                        const char *byKind = emu::FpuOrSimdUseByKind(in, operandsMayTell);
                        EXPECT_TRUE(byKind != nullptr || operandsMayTell) << Shown(b);
                    }
                }
    // The enumeration reached what it is for.
    EXPECT_GT(decoded, 500000u);
    EXPECT_GT(stackWriters, 10000u);
    EXPECT_GT(fileUsers, 10000u);
}

emu::BlockReading ReadAll(const Bytes &b, uint32_t stopAt = UINT32_MAX)
{
    return emu::ReadBlock(b.data(), static_cast<uint32_t>(b.size()), [stopAt](uint32_t offset) { return offset == stopAt; });
}

TEST(X86Reader, ABlockIsReadWithTheLowestStackAtAnyInstructionsStart)
{
    // push ebp; mov ebp, esp; sub esp, 0x10; push 1; call rel32: ESP is 24
    // below the block's start when the call begins.
    const Bytes block = {0x55, 0x89, 0xE5, 0x83, 0xEC, 0x10, 0x6A, 0x01, 0xE8, 0, 0, 0, 0};
    const emu::BlockReading r = ReadAll(block);
    EXPECT_EQ(r.instructions, 5u);
    EXPECT_EQ(r.read, block.size());
    EXPECT_EQ(r.lastOffset, 8u);
    EXPECT_EQ(r.lowestEsp, -24);

    // add esp, 8; pop ebp; ret 4: ESP only rises, so the block's start is the lowest.
    const emu::BlockReading up = ReadAll({0x83, 0xC4, 0x08, 0x5D, 0xC2, 0x04, 0x00});
    EXPECT_EQ(up.instructions, 3u);
    EXPECT_EQ(up.lowestEsp, 0);
}

TEST(X86Reader, ABlockStopsWhereItsReadingCannotAccountForTheRest)
{
    // push ebp; mov ebp, esp; and esp, -16; push 1: read up to and with the
    // and, which leaves ESP unknown.
    const emu::BlockReading unknown = ReadAll({0x55, 0x89, 0xE5, 0x83, 0xE4, 0xF0, 0x6A, 0x01});
    EXPECT_EQ(unknown.instructions, 3u);
    EXPECT_EQ(unknown.read, 6u);
    EXPECT_EQ(unknown.lastOffset, 3u);
    EXPECT_EQ(unknown.lowestEsp, -4);

    // xor eax, eax; push eax; fld1; ret: read up to the fld1, not with it.
    const emu::BlockReading x87 = ReadAll({0x31, 0xC0, 0x50, 0xD9, 0xE8, 0xC3});
    EXPECT_EQ(x87.instructions, 2u);
    EXPECT_EQ(x87.read, 3u);
    EXPECT_EQ(x87.lastOffset, 2u);

    // push eax; then bytes that are no instruction.
    const emu::BlockReading invalid = ReadAll({0x50, 0x0F, 0x36});
    EXPECT_EQ(invalid.instructions, 1u);
    EXPECT_EQ(invalid.read, 1u);

    // push eax; push ecx; push edx, with the second watched by the machine.
    const emu::BlockReading watched = ReadAll({0x50, 0x51, 0x52}, 1);
    EXPECT_EQ(watched.instructions, 1u);
    EXPECT_EQ(watched.read, 1u);
}

TEST(X86Reader, TheSameBytesReadAgainAreCutWhereTheMachineNowWatches)
{
    // push esi; push edi; push ebx; add esp, 0x0c, read with nothing
    // watched, then the same bytes with the third watched, then the first,
    // then nothing again: each reading as if the bytes were new.
    const Bytes block = {0x56, 0x57, 0x53, 0x83, 0xC4, 0x0C};
    const emu::BlockReading whole = ReadAll(block);
    EXPECT_EQ(whole.instructions, 4u);
    EXPECT_EQ(whole.read, 6u);
    EXPECT_EQ(whole.lowestEsp, -12);
    const emu::BlockReading cut = ReadAll(block, 2);
    EXPECT_EQ(cut.instructions, 2u);
    EXPECT_EQ(cut.read, 2u);
    EXPECT_EQ(cut.lastOffset, 1u);
    EXPECT_EQ(cut.lowestEsp, -4);
    EXPECT_EQ(ReadAll(block, 0).instructions, 0u);
    EXPECT_EQ(ReadAll(block).instructions, 4u);
}

TEST(Disassembly, OneInstructionInIntelSyntaxWithBranchTargetsAbsolute)
{
    const struct {
        Bytes bytes;
        uint32_t address;
        const char *text;
    } cases[] = {
        {{0xC7, 0x40, 0x10, 0xEF, 0xBE, 0xAD, 0xDE}, 0x1000, "mov dword ptr [eax+0x10], 0xdeadbeef"},
        {{0x89, 0x41, 0xFC}, 0x1000, "mov dword ptr [ecx-0x4], eax"},
        {{0xE8, 0x3B, 0x00, 0x00, 0x00}, 0x10001000, "call 0x10001040"},      // 0x10001005 + 0x3b
        {{0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, 0x10001000, "call 0x10001000"},      // -5: itself
        {{0x74, 0x05}, 0x1062, "jz 0x1069"},
        {{0xFF, 0x15, 0x00, 0x20, 0x00, 0x10}, 0x1000, "call dword ptr [0x10002000]"},
        {{0xC2, 0x08, 0x00}, 0x1000, "ret 0x8"},
        {{0xD9, 0xE8}, 0x1000, "fld1"},
        {{0x64, 0xA1, 0x18, 0x00, 0x00, 0x00}, 0x1000, "mov eax, dword ptr fs:[0x18]"},
        {{0xF3, 0xA5}, 0x1000, "rep movsd"},
        {{0x66, 0x89, 0x41, 0x02}, 0x1000, "mov word ptr [ecx+0x2], ax"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(emu::Disassemble(c.bytes.data(), c.bytes.size(), c.address), c.text) << Shown(c.bytes);
}

TEST(Disassembly, BytesThatAreNoInstructionAreShown)
{
    const Bytes invalid = {0x0F, 0x36};
    EXPECT_EQ(emu::Disassemble(invalid.data(), invalid.size(), 0x1000), "(bytes not decodable: 0f 36)");
    const Bytes cut = {0xE8, 0x00};
    EXPECT_EQ(emu::Disassemble(cut.data(), cut.size(), 0x1000), "(bytes not decodable: e8 00)");
    // At most the 15 bytes an instruction may have.
    const Bytes prefixes(20, 0x66);
    EXPECT_EQ(emu::Disassemble(prefixes.data(), prefixes.size(), 0x1000),
              "(bytes not decodable: 66 66 66 66 66 66 66 66 66 66 66 66 66 66 66)");
}

} // namespace
