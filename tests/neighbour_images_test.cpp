// zerval.sys with real neighbour images in the emulator: the example services
// driver (kelv.sys) and TV driver (rmx.sys) built from the SDK, and the
// example display driver, bound to the module by module and name.  The
// example services driver answers as its AttachParam says (0 accept all,
// 1 refuse all, 2 every mode at 60 Hz, 3 init fails, 4 hooks left empty).
#include <algorithm>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "accept_all.h"
#include "build_products.h"
#include "image_backend.h"

namespace {

constexpr uint32_t kAcceptAll = 0, kRefuseAll = 1, kRewriteRefresh = 2, kFailInit = 3, kEmptyHooks = 4;

std::vector<emu::Neighbour> Siblings()
{
    return {{"kelv.sys", pe::Load(products::Existing(products::kExampleServices))},
            {"rmx.sys", pe::Load(products::Existing(products::kExampleTv))}};
}

std::unique_ptr<ModuleUnderTest> WithSiblings() { return MakeImageModule(DefaultImage(), Siblings()); }

uint8_t Attach(ModuleUnderTest &m, uint32_t behaviour, uint8_t &result)
{
    return m.lDllAttach(0, 0, 0, behaviour, &result);
}

std::string LoadError(std::vector<emu::Neighbour> neighbours)
{
    try {
        MakeImageModule(DefaultImage(), std::move(neighbours));
    } catch (const emu::Error &e) {
        return e.what();
    }
    return "";
}

// The image with every occurrence of one byte string replaced by another of
// the same length, read again.
void Patch(pe::Image &image, const std::string &from, const std::string &to)
{
    std::vector<uint8_t> b = image.bytes;
    for (auto it = std::search(b.begin(), b.end(), from.begin(), from.end()); it != b.end();
         it = std::search(it + 1, b.end(), from.begin(), from.end()))
        std::copy(to.begin(), to.end(), it);
    image = pe::Parse(std::move(b));
}

TEST(NeighbourImages, AcceptAllPublishesEveryModeUsable)
{
    auto m = WithSiblings();
    uint8_t result = 0xFF;
    ASSERT_EQ(Attach(*m, kAcceptAll, result), TRUE);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes());
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), accept_all::Records());
    const auto list = m->published();
    ASSERT_EQ(list.size(), accept_all::Records());
    EXPECT_EQ(list[rules::kLeadingRecords].VisScreenWidth, 640u);
    EXPECT_EQ(list[rules::kLeadingRecords].VisScreenHeight, 480u);
    EXPECT_EQ(list[rules::kLeadingRecords].BitsPerPlane, 8u);
    EXPECT_EQ(list[rules::kLeadingRecords].Frequency, 44u);
    EXPECT_TRUE(std::all_of(list.begin() + rules::kLeadingRecords, list.end(), [](const auto &r) { return r.Length == 80; }));

    VIDEO_MODE_INFORMATION record = list[rules::kLeadingRecords];
    record.Length = 0;
    m->vValidateMode(&record, 0);
    EXPECT_EQ(record.Length, 80u);
    EXPECT_EQ(m->SetMode(&record, 0), 0u);
}

TEST(NeighbourImages, AnswersOfTheExampleReachTheDisplayDriver)
{
    auto m = WithSiblings();
    uint8_t result = 0xFF;
    ASSERT_EQ(Attach(*m, kRefuseAll, result), TRUE);
    EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), 0u);
    EXPECT_EQ(m->u32("ORVX_NUM_MODES"), rules::kLeadingRecords);

    // Every mode answered at 60 Hz: only the probe at 60 Hz matches, once per row.
    ASSERT_EQ(Attach(*m, kRewriteRefresh, result), TRUE);
    const auto list = m->published();
    ASSERT_GT(list.size(), rules::kLeadingRecords);
    EXPECT_TRUE(std::all_of(list.begin() + rules::kLeadingRecords, list.end(), [](const auto &r) { return r.Frequency == 60; }));
    std::set<std::tuple<uint32_t, uint32_t, uint32_t>> modes;
    for (auto r = list.begin() + rules::kLeadingRecords; r != list.end(); ++r)
        EXPECT_TRUE(modes.insert({r->VisScreenWidth, r->VisScreenHeight, r->BitsPerPlane}).second)
            << "a row published twice";

    // The forwarded services: the services driver handles a request whose
    // first value is non-zero (the sum), the TV driver the others (0x40 + sum).
    EXPECT_EQ(m->Orvalen_Function(1), TRUE);
    EXPECT_EQ(m->Orvalen_Function(0), FALSE);
    EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), 6);
    EXPECT_EQ(m->MeltoBiosDll(0, 2, 3), 0x45);
    EXPECT_EQ(m->GetFreeFramebufferSize(), 0x00400000u);
    EXPECT_EQ(m->BiosDllSetInitialValue(), 1u);
}

TEST(NeighbourImages, FailedInitAndEmptyHooksRefuseTheAttach)
{
    for (uint32_t behaviour : {kFailInit, kEmptyHooks}) {
        auto m = WithSiblings();
        uint8_t result = 0xFF;
        ASSERT_EQ(Attach(*m, kAcceptAll, result), TRUE);
        const uint64_t first = m->publishedAddress();
        result = 0x5A;
        EXPECT_EQ(Attach(*m, behaviour, result), FALSE) << behaviour;
        EXPECT_EQ(result, 0x5A) << behaviour;
        EXPECT_EQ(m->publishedAddress(), first) << behaviour;
        EXPECT_EQ(m->u32("NumModesFromBIOSDLL"), accept_all::Modes()) << behaviour;
        EXPECT_EQ(m->GetFreeFramebufferSize(), 0u) << behaviour;
        EXPECT_EQ(m->MeltoBiosDll(1, 2, 3), FALSE) << behaviour;
    }
}

TEST(NeighbourImages, TheDisplayDriverRunsTheWholeStack)
{
    std::vector<emu::Neighbour> images = Siblings();
    images.push_back({"example_display.sys", pe::Load(products::Existing(products::kExampleDisplay))});
    auto m = MakeImageModule(DefaultImage(), std::move(images));
    EXPECT_EQ(MachineOf(*m)->call("example_display.sys", "DriverEntry", {0, 0}), 0u);
    // It took 200 Hz and 320x200 at 8 bits out of the catalogue before attaching.
    EXPECT_EQ(m->rate(15), 0u);
    const auto list = m->published();
    ASSERT_GT(list.size(), rules::kLeadingRecords);
    EXPECT_EQ(list[0].Length, 80u);  // the leading records, filled in by the display driver
    EXPECT_TRUE(std::none_of(list.begin() + rules::kLeadingRecords, list.end(), [](const auto &r) { return r.Frequency == 200; }));
}

TEST(NeighbourImages, AMissingExportFailsTheLoad)
{
    std::vector<emu::Neighbour> images = Siblings();
    Patch(images[0].image, decorated::Attach, "_Attack@16");
    EXPECT_NE(LoadError(images).find("zerval.sys imports kelv.sys!_Attach@16, which kelv.sys does not export (it "
                                     "exports _Attack@16)"),
              std::string::npos);
    images = Siblings();
    Patch(images[1].image, decorated::S_RMX_Control, "_S_RMX_Kontrol@12");
    EXPECT_NE(LoadError(images).find("rmx.sys!_S_RMX_Control@12"), std::string::npos);
    images = Siblings();
    images.push_back({"example_display.sys", pe::Load(products::Existing(products::kExampleDisplay))});
    images.push_back({"kelv.sys", pe::Load(products::Existing(products::kExampleServices))});
    EXPECT_NE(LoadError(images).find("two images named kelv.sys"), std::string::npos);
}

// kelv.sys with the first bytes of its Attach replaced by other code.
std::vector<emu::Neighbour> SiblingsWithAttach(const std::vector<uint8_t> &code)
{
    std::vector<emu::Neighbour> images = Siblings();
    pe::Image &kelv = images[0].image;
    const uint32_t attach = kelv.exported(decorated::Attach)->rva;
    const pe::Section *text = kelv.section(".text");
    EXPECT_NE(text, nullptr);
    std::copy(code.begin(), code.end(), kelv.bytes.begin() + text->rawOffset + (attach - text->virtualAddress));
    return images;
}

// The fault of an attach, and whose code it blames ("kelv.sys"; empty for the module's own).
struct AttachOutcome {
    std::string fault;
    std::string culprit;
};

AttachOutcome AttachFault(std::vector<emu::Neighbour> images)
{
    auto m = MakeImageModule(DefaultImage(), std::move(images));
    uint8_t result = 0;
    try {
        Attach(*m, kAcceptAll, result);
    } catch (const emu::Fault &f) {
        return {f.what(), f.culprit};
    }
    return {};
}

TEST(NeighbourImages, ACallBetweenImagesIsHeldToStdcall)
{
    // Attach pops 12 bytes instead of 16: ret 12.  Its image and the return are named.
    AttachOutcome o = AttachFault(SiblingsWithAttach({0xC2, 0x0C, 0x00}));
    EXPECT_NE(o.fault.find("kelv.sys!_Attach@16: stack unbalanced: the callee popped 12 bytes of arguments, stdcall "
                           "wants 16; it returned at kelv.sys .text+"),
              std::string::npos)
        << o.fault;
    EXPECT_EQ(o.culprit, "kelv.sys");
    // Attach returns with EBX changed: mov ebx, 1; ret 16.
    o = AttachFault(SiblingsWithAttach({0xBB, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x10, 0x00}));
    EXPECT_NE(o.fault.find("kelv.sys!_Attach@16: EBX not preserved (0x1 on return, "), std::string::npos) << o.fault;
    EXPECT_EQ(o.culprit, "kelv.sys");
    // Attach writes its caller's frame: mov [esp+20], eax; ret 16.
    o = AttachFault(SiblingsWithAttach({0x89, 0x44, 0x24, 0x14, 0xC2, 0x10, 0x00}));
    EXPECT_NE(o.fault.find("kelv.sys wrote 4 bytes outside what zerval.sys handed to kelv.sys!_Attach@16: at "),
              std::string::npos)
        << o.fault;
    EXPECT_NE(o.fault.find("in its caller's stack frame, 0 bytes above its arguments; the write at kelv.sys .text+"),
              std::string::npos)
        << o.fault;
    EXPECT_EQ(o.culprit, "kelv.sys");
    // Attach jumps nowhere: jmp 0xdeadbeef (push; ret).  The jump is its own.
    o = AttachFault(SiblingsWithAttach({0x68, 0xEF, 0xBE, 0xAD, 0xDE, 0xC3}));
    EXPECT_NE(o.fault.find("jump to unmapped memory at 0xdeadbeef"), std::string::npos) << o.fault;
    EXPECT_NE(o.fault.find(", from kelv.sys .text+"), std::string::npos) << o.fault;
    EXPECT_NE(o.fault.find(", in _Attach@16"), std::string::npos) << o.fault;
    EXPECT_EQ(o.culprit, "kelv.sys");
    // Unchanged, the same attach passes.
    o = AttachFault(Siblings());
    EXPECT_EQ(o.fault, "");
}

// The module's own faults stay the module's, with the real siblings loaded.
TEST(NeighbourImages, AFaultOfTheModuleIsNotBlamedOnANeighbour)
{
    auto m = WithSiblings();
    try {
        MachineOf(*m)->call(decorated::vValidateMode, {0x10, 0});  // a record in the NULL page: the module reads it
        FAIL() << "no fault";
    } catch (const emu::Fault &f) {
        EXPECT_EQ(f.culprit, "") << f.what();
        EXPECT_NE(std::string(f.what()).find(", at zerval.sys .text+"), std::string::npos) << f.what();
    }
}

} // namespace
