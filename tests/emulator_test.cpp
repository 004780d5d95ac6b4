// The emulated kernel itself: what it refuses to load, and the checks it makes
// on every call into the image; with the image of either dialect.
#include <algorithm>
#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

#include "accept_all.h"
#include "build_products.h"
#include "fpu_simd.h"
#include "host_doubles.h"
#include "image_backend.h"

namespace {

std::string LoadError(const pe::Image &image)
{
    try {
        MakeImageModule(image);
    } catch (const emu::Error &e) {
        return e.what();
    }
    return "";
}

class EmulatorOnImage : public ::testing::TestWithParam<ImageDialect> {
protected:
    const pe::Image &Built() { return BuiltImage(GetParam()); }
};

TEST_P(EmulatorOnImage, RefusesWhatIsNotAnI386NativeDriver)
{
    pe::Image image = Built();
    image.machine = 0x8664;
    EXPECT_NE(LoadError(image).find("not i386"), std::string::npos);
    image = Built();
    image.subsystem = 2;
    EXPECT_NE(LoadError(image).find("not a native driver"), std::string::npos);
}

TEST_P(EmulatorOnImage, RefusesUnknownImports)
{
    const pe::Image example =
        pe::Load(products::Existing(GetParam() == ImageDialect::Gnu ? products::kExampleDisplay
                                                                        : products::kExampleDisplayMsvc));
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
    EXPECT_NE(refusal(image).find("SizeOfImage 0x7ffff000"), std::string::npos);
    image.sizeOfImage = 0;
    EXPECT_NE(refusal(image).find("SizeOfImage 0x0"), std::string::npos);

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

TEST_P(EmulatorOnImage, RunsTheImageAwayFromItsPreferredBase)
{
    auto m = MakeImageModule(Built());
    ASSERT_NE(Built().imageBase, emu::Machine::kLoadBase);
    ASSERT_EQ(m->attach(), TRUE);
    // The published array lives in the special pool, and the catalogue was
    // reached through relocated addresses.
    EXPECT_GE(m->publishedAddress(), emu::Machine::kPoolBase);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
}

TEST_P(EmulatorOnImage, CountsWorkAndStackPerCall)
{
    auto m = MakeImageModule(Built());
    ASSERT_EQ(m->attach(), TRUE);
    const emu::CallStats stats = MachineOf(*m)->lastCall();
    EXPECT_GT(stats.instructions, accept_all::Probes());      // at least one instruction per probe
    // Two probes a mode; two siblings, pfnInit; two allocations, one free, three zeroings.
    EXPECT_EQ(stats.hookCalls, accept_all::Probes() + 9u);
    EXPECT_GT(stats.stackBytes, 4u);
    EXPECT_EQ(m->log.calls().size(), stats.hookCalls);
}

TEST_P(EmulatorOnImage, DataOutsideTheExportsIsRefused)
{
    auto m = MakeImageModule(Built());
    uint32_t v = 0;
    EXPECT_THROW(m->readData("modeTableSize", 4, &v, 4), std::out_of_range);
    EXPECT_THROW(m->readData("BIOS_Attach", 0, &v, 4), std::out_of_range);
}

// The special pool behind ExAllocatePoolWithTag: a request the module must
// never make is a fault, an access past a block's end or after its free
// faults at once, a write below its start is found when it is freed, and a
// second free or a free of anything else is a fault.
TEST_P(EmulatorOnImage, SpecialPoolCatchesWhatTheVerifierWould)
{
    auto m = MakeImageModule(Built());
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

// Code for an export taking one argument that hands pfnQueryMode a record
// at an address computed by `address` (bytes leaving it in EAX), then
// returns: push 0; <address>; push eax; mov ecx, hook; call ecx; ret 4.
std::vector<uint8_t> HandRecordTo(uint32_t hook, const std::vector<uint8_t> &address)
{
    std::vector<uint8_t> code = {0x6A, 0x00};
    code.insert(code.end(), address.begin(), address.end());
    code.push_back(0x50);
    code.push_back(0xB9);
    for (uint8_t b : Le32(hook))
        code.push_back(b);
    for (uint8_t b : {0xFF, 0xD1, 0xC2, 0x04, 0x00})
        code.push_back(b);
    return code;
}

std::vector<uint8_t> MovEax(uint32_t v)
{
    std::vector<uint8_t> code = {0xB8};
    for (uint8_t b : Le32(v))
        code.push_back(b);
    return code;
}

// A record handed to a hook must lie in the caller's stack frame, as a
// verifier checking IRQL rules demands: pool or static memory may be paged
// out when the services driver touches it.  Neither may it be the hook's own
// arguments or the entry's (the display driver's frame).
TEST(Emulator, ARecordOutsideTheCallersFrameIsAFault)
{
    const std::vector<std::pair<std::string, std::function<std::vector<uint8_t>(emu::Machine &)>>> outside = {
        {"the display driver's data", [](emu::Machine &) { return MovEax(emu::Machine::kCallerData + 0x200); }},
        {"a pool block", [](emu::Machine &mc) { return MovEax(mc.allocate(1, 16, 0x6C6C6442)); }},
        // lea eax, [esp + 8]: the entry's own argument, above its return address
        {"the entry's argument", [](emu::Machine &) { return std::vector<uint8_t>{0x8D, 0x44, 0x24, 0x08}; }},
        // lea eax, [esp - 16]: below the hook's return address
        {"below the stack pointer", [](emu::Machine &) { return std::vector<uint8_t>{0x8D, 0x44, 0x24, 0xF0}; }},
        // mov eax, esp: the hook's own second argument and what follows
        {"the hook's arguments", [](emu::Machine &) { return std::vector<uint8_t>{0x89, 0xE0}; }},
    };
    for (const auto &[what, address] : outside) {
        SCOPED_TRACE(what);
        auto m = MakeImageModule(DefaultImage());
        ASSERT_EQ(m->attach(), TRUE);
        emu::Machine &machine = *MachineOf(*m);
        const uint32_t hook = machine.hookAddress(sim::Hook::QueryMode);
        const std::string fault = FaultOfPatchedExport(*m, decorated::Orvalen_Function, HandRecordTo(hook, address(machine)), {0});
        EXPECT_NE(fault.find("_Orvalen_Function@4: in pfnQueryMode: handed a 16-byte record at 0x"), std::string::npos)
            << fault;
        EXPECT_NE(fault.find("outside the caller's stack frame"), std::string::npos) << fault;
    }

    // The same call with the record in the export's own frame passes:
    // sub esp, 16; mov edx, esp; push 0; push edx; mov ecx, hook; call ecx; add esp, 16; ret 4.
    auto m = MakeImageModule(DefaultImage());
    ASSERT_EQ(m->attach(), TRUE);
    std::vector<uint8_t> inFrame = {0x83, 0xEC, 0x10, 0x89, 0xE2, 0x6A, 0x00, 0x52, 0xB9};
    for (uint8_t b : Le32(MachineOf(*m)->hookAddress(sim::Hook::QueryMode)))
        inFrame.push_back(b);
    for (uint8_t b : {0xFF, 0xD1, 0x83, 0xC4, 0x10, 0xC2, 0x04, 0x00})
        inFrame.push_back(b);
    EXPECT_EQ(FaultOfPatchedExport(*m, decorated::Orvalen_Function, inFrame, {0}), "");
    EXPECT_EQ(m->log.of(sim::Callee::QueryMode).size(), 1827u);
}

// Every call out of the image lands on a stub bound at load to what serves
// it.  A call to the stub page anywhere else reaches no handler: inside a
// stub, past its start, or a slot past the last stub, where nothing is bound.
// The machine stops with its own error naming the address and what is
// there, instead of answering anything.
TEST(Emulator, AStubAddressWithNoHandlerIsAnError)
{
    // Each target from the address of pfnFunction's stub.
    const struct {
        uint32_t (*target)(uint32_t function);
        const char *there;
    } cases[] = {
        {[](uint32_t function) { return function + 1; }, "pfnFunction, not at its start"},
        // halfway up the stub page, far past the few dozen stubs
        {[](uint32_t function) { return (function & ~0xFFFu) + 0x800; }, "nothing bound"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.there);
        auto m = MakeImageModule(DefaultImage());
        ASSERT_EQ(m->attach(), TRUE);
        emu::Machine &machine = *MachineOf(*m);
        const uint32_t target = c.target(machine.hookAddress(sim::Hook::Function));
        // mov ecx, target; call ecx; ret 4
        std::vector<uint8_t> code = {0xB9};
        for (uint8_t b : Le32(target))
            code.push_back(b);
        for (uint8_t b : {0xFF, 0xD1, 0xC2, 0x04, 0x00})
            code.push_back(b);
        machine.write(machine.exportAddress(decorated::Orvalen_Function), code.data(), static_cast<uint32_t>(code.size()));
        char address[16];
        std::snprintf(address, sizeof address, "0x%x", target);
        try {
            machine.call(decorated::Orvalen_Function, {0});
            ADD_FAILURE() << "the call returned";
        } catch (const emu::Error &e) {
            const std::string error = e.what();
            EXPECT_NE(error.find(std::string("_Orvalen_Function@4: call to ") + address), std::string::npos) << error;
            EXPECT_NE(error.find(c.there), std::string::npos) << error;
            EXPECT_NE(error.find("has no handler"), std::string::npos) << error;
        }
        EXPECT_EQ(m->log.count(sim::Callee::Function), 0u);
    }
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
        const uint32_t at = MachineOf(*m)->exportAddress(decorated::GetFreeFramebufferSize);
        char address[16];
        std::snprintf(address, sizeof address, "0x%x", at);
        const std::string fault = FaultOfPatchedExport(*m, decorated::GetFreeFramebufferSize, code, {});
        EXPECT_NE(fault.find(decorated::GetFreeFramebufferSize), std::string::npos) << fault;
        EXPECT_NE(fault.find(std::string(kind) + " instruction at " + address), std::string::npos) << fault;
        // and again on the next call: an instruction once refused is refused every time
        std::string again;
        try {
            MachineOf(*m)->call(decorated::GetFreeFramebufferSize, {});
        } catch (const emu::Fault &f) {
            again = f.what();
        }
        EXPECT_NE(again.find(std::string(kind) + " instruction at " + address), std::string::npos) << again;
    }
}

// What the machine learnt of a watched instruction is forgotten when the
// code there changes: ordinary code written over a refused instruction runs.
TEST(Emulator, CodeWrittenOverARefusedInstructionIsReadAgain)
{
    auto m = MakeImageModule(DefaultImage());
    emu::Machine &machine = *MachineOf(*m);
    const std::string entry = decorated::GetFreeFramebufferSize;
    EXPECT_NE(FaultOfPatchedExport(*m, entry, {0xD9, 0xE8, 0xC3}, {}).find("x87 instruction at "), std::string::npos);
    // mov eax, 7; ret, over the fld1
    const std::vector<uint8_t> code = {0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3};
    machine.write(machine.exportAddress(entry), code.data(), static_cast<uint32_t>(code.size()));
    EXPECT_EQ(machine.call(entry, {}), 7u);
}

// A fault names the instruction that did it, disassembled after where it
// lies, where the machine watches each instruction as it runs (a neighbour
// image's, or one it refuses); in the module's own code, which it reads ahead
// by blocks, the engine's EIP at a bad access may be its block's start, so
// no instruction is named there rather than a wrong one.  A jump to nowhere
// names where it came from, and no instruction where none is.
TEST(Emulator, AFaultShowsTheInstructionThatDidIt)
{
    const std::string entry = decorated::GetFreeFramebufferSize;
    {
        // mov eax, 0x10; mov dword ptr [eax], 0xdeadbeef: not the mov eax
        auto m = MakeImageModule(DefaultImage());
        const std::string fault = FaultOfPatchedExport(
            *m, entry, {0xB8, 0x10, 0, 0, 0, 0xC7, 0x00, 0xEF, 0xBE, 0xAD, 0xDE, 0xC3}, {});
        EXPECT_NE(fault.find("write to unmapped memory at 0x10 (NULL), 4 bytes"), std::string::npos) << fault;
        EXPECT_TRUE(fault.ends_with(", in " + entry)) << fault;
    }
    {
        // mov eax, 0x20; jmp eax: from where the jump lies
        auto m = MakeImageModule(DefaultImage());
        const std::string fault = FaultOfPatchedExport(*m, entry, {0xB8, 0x20, 0, 0, 0, 0xFF, 0xE0}, {});
        EXPECT_NE(fault.find("jump to unmapped memory at 0x20 (NULL)"), std::string::npos) << fault;
        EXPECT_NE(fault.find(", from zerval.sys .text+"), std::string::npos) << fault;
        EXPECT_TRUE(fault.ends_with(", in " + entry)) << fault;
    }
    {
        // mov eax, <the image's first section of data>; jmp eax: what lies there is no code
        const pe::Image image = DefaultImage();
        const pe::Section *data = nullptr;
        for (const pe::Section &section : image.sections)
            if (data == nullptr && (section.characteristics & pe::kScnExecute) == 0)
                data = &section;
        ASSERT_NE(data, nullptr);
        auto m = MakeImageModule(image);
        std::vector<uint8_t> code = {0xB8};
        for (uint8_t b : Le32(emu::Machine::kLoadBase + data->virtualAddress))
            code.push_back(b);
        code.insert(code.end(), {0xFF, 0xE0});
        const std::string fault = FaultOfPatchedExport(*m, entry, code, {});
        EXPECT_NE(fault.find("execution of non-executable memory"), std::string::npos) << fault;
        EXPECT_TRUE(fault.ends_with(", at zerval.sys " + data->name + "+0x0 (RVA " + pe::Hex(data->virtualAddress) + "), in " +
                                    entry))
            << fault;
    }
    {
        // fld1: refused, the instruction inside the parentheses that place it
        auto m = MakeImageModule(DefaultImage());
        const std::string fault = FaultOfPatchedExport(*m, entry, {0xD9, 0xE8, 0xC3}, {});
        EXPECT_TRUE(fault.ends_with(", in " + entry + ": fld1)")) << fault;
    }
}

// The machine reads each block of code once, not each instruction as it runs:
// the count and the deepest stack stay exact where a block moves ESP in ways
// its bytes do not tell (mov esp, ebp; and esp, -16), and an x87 instruction
// inside a block is refused where it stands, after what runs before it.
TEST(Emulator, CountsAndStackStayExactWhereESPIsNotKnownFromTheCode)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> code;
        uint64_t instructions;
        uint32_t stackBytes;  // from the entry's return address down
    };
    const Case cases[] = {
        // push ebp; mov ebp, esp; sub esp, 0x40; mov esp, ebp; push 1; push 2; add esp, 8; pop ebp; ret
        {"mov esp, ebp", {0x55, 0x89, 0xE5, 0x83, 0xEC, 0x40, 0x89, 0xEC, 0x6A, 0x01, 0x6A, 0x02, 0x83, 0xC4, 0x08, 0x5D, 0xC3},
         9, 4 + 0x44},
        // push ebp; mov ebp, esp; and esp, -16; push 1; push 2; push 3; mov esp, ebp; pop ebp; ret: ESP
        // at the entry's return address is 4 below a 16-byte boundary, so after the push of EBP the and
        // moves it 8 lower; the mov esp, ebp starts 12 below that
        {"and esp, -16", {0x55, 0x89, 0xE5, 0x83, 0xE4, 0xF0, 0x6A, 0x01, 0x6A, 0x02, 0x6A, 0x03, 0x89, 0xEC, 0x5D, 0xC3},
         9, 4 + 4 + 8 + 12},
        // push ebp; mov ebp, esp; leave; push 7; pop eax; ret
        {"leave", {0x55, 0x89, 0xE5, 0xC9, 0x6A, 0x07, 0x58, 0xC3}, 6, 4 + 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto m = MakeImageModule(DefaultImage());
        emu::Machine &machine = *MachineOf(*m);
        const std::string entry = "_GetFreeFramebufferSize@0";
        machine.write(machine.exportAddress(entry), c.code.data(), static_cast<uint32_t>(c.code.size()));
        for (int again = 0; again < 2; ++again) {  // read once, then from what was read
            machine.call(entry, {});
            EXPECT_EQ(machine.lastCall().instructions, c.instructions);
            EXPECT_EQ(machine.lastCall().stackBytes, c.stackBytes);
        }
    }

    // xor eax, eax; push eax; fld1; ret: refused at the fld1, after the push ran
    // (the refused instruction itself not counted, as ever).
    auto m = MakeImageModule(DefaultImage());
    const uint32_t at = MachineOf(*m)->exportAddress("_GetFreeFramebufferSize@0");
    char address[16];
    std::snprintf(address, sizeof address, "0x%x", at + 3);
    const std::string fault = FaultOfPatchedExport(*m, "_GetFreeFramebufferSize@0", {0x31, 0xC0, 0x50, 0xD9, 0xE8, 0xC3}, {});
    EXPECT_NE(fault.find(std::string("x87 instruction at ") + address), std::string::npos) << fault;
    EXPECT_EQ(MachineOf(*m)->lastCall().instructions, 2u);
    EXPECT_EQ(MachineOf(*m)->lastCall().stackBytes, 4u);
}

// The classifier on its own: instructions of the general registers, some of
// them in the 0F map or with the bytes of a VEX prefix, pass; those of the
// x87, MMX, SSE and AVX register files do not.
TEST(FpuSimd, TellsRegisterFilesApart)
{
    const std::vector<std::vector<uint8_t>> integer = {
        {0x31, 0xC0},                    // xor eax, eax
        {0x0F, 0xB6, 0x45, 0x08},        // movzx eax, byte [ebp+8]
        {0x0F, 0x84, 0, 0, 0, 0},        // jz rel32
        {0x66, 0x89, 0x41, 0x02},        // mov [ecx+2], ax
        {0xF3, 0xAB},                    // rep stosd
        {0x0F, 0xAF, 0xC1},              // imul eax, ecx
        {0x0F, 0x38, 0xF0, 0x01},        // movbe eax, [ecx]
        {0xF2, 0x0F, 0x38, 0xF1, 0xC1},  // crc32 eax, ecx
        {0x0F, 0xAE, 0xE8},              // lfence
        {0x0F, 0xAE, 0xF0},              // mfence
        {0x0F, 0xAE, 0xF8},              // sfence
        {0x0F, 0xAE, 0x39},              // clflush [ecx]
        {0x0F, 0xC3, 0x01},              // movnti [ecx], eax
        {0x0F, 0xC7, 0x09},              // cmpxchg8b [ecx]
        {0x0F, 0x78, 0xC8},              // vmread eax, ecx
        {0xC4, 0x01},                    // les eax, [ecx]
        {0xC5, 0x01},                    // lds eax, [ecx]
        {0x62, 0x01},                    // bound eax, [ecx]
    };
    for (const auto &insn : integer)
        EXPECT_EQ(emu::FpuOrSimdUse(insn.data(), insn.size()), nullptr) << int(insn[0]) << " " << int(insn[1]);

    const std::vector<std::pair<std::vector<uint8_t>, std::string>> simd = {
        {{0xDD, 0xD8}, "x87"},                          // fstp st0
        {{0x0F, 0x0E}, "MMX/SSE"},                      // femms
        {{0x0F, 0x77}, "MMX/SSE"},                      // emms
        {{0x66, 0x0F, 0x38, 0x00, 0xC1}, "MMX/SSE"},    // pshufb xmm0, xmm1
        {{0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x04}, "MMX/SSE"},  // palignr
        {{0x66, 0x0F, 0x78, 0xC0, 0x01, 0x02}, "MMX/SSE"},  // extrq
        {{0x0F, 0xAE, 0x01}, "MMX/SSE"},                // fxsave [ecx]
        {{0x0F, 0xAE, 0x11}, "MMX/SSE"},                // ldmxcsr [ecx]
        {{0xC5, 0xF8, 0x77}, "AVX"},                    // vzeroupper
        {{0xC4, 0xE2, 0x7D, 0x18, 0xC1}, "AVX"},        // vbroadcastss ymm0, xmm1
        {{0x62, 0xF1, 0x7C, 0x48, 0x10, 0xC1}, "AVX"},  // EVEX vmovups zmm0, zmm1
    };
    for (const auto &[insn, kind] : simd) {
        const char *use = emu::FpuOrSimdUse(insn.data(), insn.size());
        ASSERT_NE(use, nullptr) << int(insn[0]) << " " << int(insn[1]);
        EXPECT_EQ(std::string(use), kind);
    }
}

INSTANTIATE_TEST_SUITE_P(Dialects, EmulatorOnImage, ::testing::ValuesIn(kImageDialects),
                         [](const ::testing::TestParamInfo<ImageDialect> &info) { return DialectName(info.param); });

} // namespace
