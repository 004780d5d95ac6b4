// The emulated kernel itself: what it refuses to load, and the checks it makes
// on every call into the image.
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

} // namespace
