// The emulated kernel itself: what it refuses to load, and the checks it makes
// on every call into the image.
#include <algorithm>

#include <gtest/gtest.h>

#include "fpu_simd.h"
#include "host_doubles.h"
#include "image_backend.h"

namespace {

std::string LoadError(const pe::Image &image)
{
    try {
        MakeImageModule(image);
    } catch (const pe::BadImage &e) {
        return e.what();
    }
    return "";
}

TEST(Emulator, RefusesWhatIsNotAnI386NativeDriver)
{
    pe::Image image = DefaultImage();
    image.machine = 0x8664;
    EXPECT_NE(LoadError(image).find("not an i386 image"), std::string::npos);
    image = DefaultImage();
    image.subsystem = 2;
    EXPECT_NE(LoadError(image).find("not a native driver"), std::string::npos);
}

TEST(Emulator, RefusesUnknownImports)
{
    const pe::Image example = pe::Load(ZERVAL_EXAMPLE_PATH);
    EXPECT_NE(LoadError(example).find("zerval.sys!"), std::string::npos);
}

// Whatever the image says, the loader writes only inside it, and refuses it
// with one printable line.
TEST(Emulator, RefusesWhatItCannotLoadWithOnePrintableLine)
{
    const auto refusal = [](const pe::Image &image) {
        const std::string message = LoadError(image);
        EXPECT_TRUE(std::all_of(message.begin(), message.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
            << message;
        return message;
    };
    pe::Image image = DefaultImage();
    image.sizeOfImage = 0x7FFFF000;
    EXPECT_NE(refusal(image).find("SizeOfImage 2147479552"), std::string::npos);
    image.sizeOfImage = 0;
    EXPECT_NE(refusal(image).find("SizeOfImage 0"), std::string::npos);

    image = DefaultImage();
    image.sections.back().virtualSize = 0xFFFFF000u;  // wraps past 4 GiB
    EXPECT_NE(refusal(image).find("lies outside the image"), std::string::npos);
    image = DefaultImage();
    image.relocations.push_back(image.sizeOfImage - 2);
    EXPECT_NE(refusal(image).find("base relocation"), std::string::npos);
    image = DefaultImage();
    image.imports.push_back(pe::Import{"k\x01\xffl.sys", "\x1b[2J", 0});
    EXPECT_NE(refusal(image).find("k\\x01\\xffl.sys!\\x1b[2J"), std::string::npos);
}

TEST(Emulator, RunsTheImageAwayFromItsPreferredBase)
{
    auto m = MakeImageModule(DefaultImage());
    ASSERT_NE(DefaultImage().imageBase, emu::Machine::kLoadBase);
    ASSERT_EQ(m->attach(), TRUE);
    // The published array lives in the special pool, and the catalogue was
    // reached through relocated addresses.
    EXPECT_GE(m->publishedAddress(), 0x20000000u);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 913u);
}

TEST(Emulator, CountsWorkAndStackPerCall)
{
    auto m = MakeImageModule(DefaultImage());
    ASSERT_EQ(m->attach(), TRUE);
    const emu::CallStats stats = MachineOf(*m)->lastCall();
    EXPECT_GT(stats.instructions, 1826u);      // at least one instruction per probe
    // 1,826 probes; two siblings, pfnInit; two allocations, one free, three zeroings.
    EXPECT_EQ(stats.hookCalls, 1826u + 9u);
    EXPECT_GT(stats.stackBytes, 4u);
    EXPECT_EQ(m->log.calls().size(), stats.hookCalls);
}

TEST(Emulator, DataOutsideTheExportsIsRefused)
{
    auto m = MakeImageModule(DefaultImage());
    uint32_t v = 0;
    EXPECT_THROW(m->readData("modeTableSize", 4, &v, 4), std::out_of_range);
    EXPECT_THROW(m->readData("BIOS_Attach", 0, &v, 4), std::out_of_range);
}

// The special pool behind ExAllocatePoolWithTag: a request the module must
// never make is a fault, an access past a block's end or after its free
// faults at once, a write below its start is found when it is freed, and a
// second free or a free of anything else is a fault.
TEST(Emulator, SpecialPoolCatchesWhatTheVerifierWould)
{
    auto m = MakeImageModule(DefaultImage());
    emu::Machine &machine = *MachineOf(*m);
    constexpr uint32_t kBdll = 0x6C6C6442;

    const uint32_t block = machine.allocate(1, 80, kBdll);
    ASSERT_NE(block, 0u);
    std::vector<uint8_t> bytes(80, 0x11);
    machine.write(block, bytes.data(), 80);
    EXPECT_THROW(machine.write(block + 80, bytes.data(), 1), emu::Fault);
    EXPECT_THROW(machine.read(block + 79, bytes.data(), 2), emu::Fault);
    machine.write(block - 1, bytes.data(), 1);
    machine.freePool(block);
    EXPECT_THROW(machine.read(block, bytes.data(), 1), emu::Fault);
    machine.freePool(block);
    machine.freePool(0x12345678);

    EXPECT_EQ(machine.allocate(0, 16, kBdll) != 0, true);       // NonPagedPool
    EXPECT_EQ(machine.allocate(1, 16, 0x41414141) != 0, true);  // another tag
    EXPECT_EQ(machine.allocate(1, 0, kBdll), 0u);
    EXPECT_EQ(machine.allocate(1, 0x80000000u, kBdll), 0u);

    const std::vector<std::string> &faults = m->pool.faults();
    auto has = [&faults](const std::string &text) {
        return std::any_of(faults.begin(), faults.end(),
                           [&text](const std::string &f) { return f.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("written below the start"));
    EXPECT_TRUE(has("not a live allocation"));
    EXPECT_TRUE(has("not PagedPool"));
    EXPECT_TRUE(has("not \"Bdll\""));
    EXPECT_TRUE(has("request of 0 bytes"));
    EXPECT_TRUE(has("request of 2147483648 bytes"));
    EXPECT_EQ(faults.size(), 7u);
    EXPECT_EQ(m->pool.live().size(), 2u);
}


// Replaces the code of an export with `code`, as a stand-in for an image that
// breaks a rule, and returns what calling it reports.
std::string FaultOfPatchedExport(ModuleUnderTest &m, const std::string &name, const std::vector<uint8_t> &code,
                                 std::vector<uint32_t> args)
{
    emu::Machine &machine = *MachineOf(m);
    machine.write(machine.exportAddress(name), code.data(), static_cast<uint32_t>(code.size()));
    try {
        machine.call(name, args);
    } catch (const emu::Fault &f) {
        return f.what();
    }
    return "";
}

std::vector<uint8_t> Le32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// A record handed to a hook must lie in the caller's stack frame, as a
// verifier checking IRQL rules demands: pool or static memory may be paged
// out when the services driver touches it.
TEST(Emulator, ARecordOutsideTheCallersFrameIsAFault)
{
    auto m = MakeImageModule(DefaultImage());
    ASSERT_EQ(m->attach(), TRUE);
    const uint32_t hook = MachineOf(*m)->hookAddress(sim::Hook::QueryMode);
    const uint32_t record = emu::Machine::kCallerData + 0x200;
    // push 0; push record; mov eax, hook; call eax; ret 4
    std::vector<uint8_t> code = {0x6A, 0x00, 0x68};
    for (uint8_t b : Le32(record))
        code.push_back(b);
    code.push_back(0xB8);
    for (uint8_t b : Le32(hook))
        code.push_back(b);
    for (uint8_t b : {0xFF, 0xD0, 0xC2, 0x04, 0x00})
        code.push_back(b);
    const std::string fault = FaultOfPatchedExport(*m, "_Orvalen_Function@4", code, {0});
    EXPECT_NE(fault.find("_Orvalen_Function@4"), std::string::npos) << fault;
    EXPECT_NE(fault.find("pfnQueryMode"), std::string::npos) << fault;
    EXPECT_NE(fault.find("0x600200"), std::string::npos) << fault;
    EXPECT_NE(fault.find("outside the caller's stack frame"), std::string::npos) << fault;
}

// The host doubles make the same check, and report it through the log.
TEST(HostDoubles, ARecordOutsideTheCallersFrameIsABreach)
{
    auto m = MakeModule(Backend::Host);
    ASSERT_EQ(m->attach(), TRUE);
    static ModeQuery notOnTheStack = {8, 640, 480, 60, 0, 0};
    hostsim::AttachedTable()->pfnQueryMode(&notOnTheStack, 0);
    ModeQuery onTheStack = {8, 640, 480, 60, 0, 0};
    hostsim::AttachedTable()->pfnQueryMode(&onTheStack, 0);
    ASSERT_EQ(m->log.breaches().size(), 1u);
    EXPECT_NE(m->log.breaches()[0].find("pfnQueryMode"), std::string::npos);
}

// Kernel code may not touch the x87, MMX or SSE registers unsaved: the
// emulated CPU stops at the first such instruction.
TEST(Emulator, FloatingPointAndSimdInstructionsAreFaults)
{
    const std::vector<std::pair<std::vector<uint8_t>, const char *>> cases = {
        {{0xD9, 0xE8, 0xC3}, "x87"},              // fld1
        {{0x9B, 0xC3}, "x87"},                    // fwait
        {{0x0F, 0x57, 0xC0, 0xC3}, "MMX/SSE"},    // xorps xmm0, xmm0
        {{0x66, 0x0F, 0xEF, 0xC0, 0xC3}, "MMX/SSE"},  // pxor xmm0, xmm0
        {{0x0F, 0x6F, 0xC1, 0xC3}, "MMX/SSE"},    // movq mm0, mm1
    };
    for (const auto &[code, kind] : cases) {
        auto m = MakeImageModule(DefaultImage());
        const uint32_t at = MachineOf(*m)->exportAddress("_GetFreeFramebufferSize@0");
        const std::string fault = FaultOfPatchedExport(*m, "_GetFreeFramebufferSize@0", code, {});
        EXPECT_NE(fault.find("_GetFreeFramebufferSize@0"), std::string::npos) << fault;
        EXPECT_NE(fault.find(std::string(kind) + " instruction at 0x"), std::string::npos) << fault;
        char address[16];
        std::snprintf(address, sizeof address, "0x%x", at);
        EXPECT_NE(fault.find(address), std::string::npos) << fault;
    }
}

TEST(FpuSimd, IntegerInstructionsPass)
{
    const std::vector<std::vector<uint8_t>> integer = {
        {0x31, 0xC0},                    // xor eax, eax
        {0x0F, 0xB6, 0x45, 0x08},        // movzx eax, byte [ebp+8]
        {0x0F, 0x84, 0, 0, 0, 0},        // jz rel32
        {0x66, 0x89, 0x41, 0x02},        // mov [ecx+2], ax
        {0xF3, 0xAB},                    // rep stosd
        {0x0F, 0xAF, 0xC1},              // imul eax, ecx
    };
    for (const auto &insn : integer)
        EXPECT_EQ(emu::FpuOrSimdUse(insn.data(), insn.size()), nullptr) << int(insn[0]) << " " << int(insn[1]);
}

} // namespace
