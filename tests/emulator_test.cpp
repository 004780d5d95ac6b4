// The emulated kernel itself: what it refuses to load, and the checks it makes
// on every call into the image.
#include <algorithm>

#include <gtest/gtest.h>

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

} // namespace
