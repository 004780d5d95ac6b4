// Facts about the built zerval.sys, read from the file with the PE reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "pe_image.h"
#include "zerval.h"

namespace {

const pe::Image &Driver()
{
    static const pe::Image image = pe::Load(ZERVAL_IMAGE_PATH);
    return image;
}

std::set<std::string> ImportsFrom(const pe::Image &img, const std::string &module)
{
    std::set<std::string> names;
    for (const pe::Import &i : img.imports)
        if (i.module == module)
            names.insert(i.name);
    return names;
}

const std::set<std::string> kFunctionExports = {
    "_lDllAttach@20",          "_vValidateMode@8",          "_SetMode@8",
    "_Orvalen_Function@4",     "_MeltoBiosDll@12",          "_GetFreeFramebufferSize@0",
    "_BiosDllSetInitialValue@0",
};
const std::set<std::string> kDataExports = {
    "modetable", "modeTableSize", "frequencytable", "freqTableSize", "NumModesFromBIOSDLL",
    "ORVX_NUM_MODES", "pModeInfoFromBIOSDLL",
};

TEST(Image, IsA32BitNativeDriver)
{
    const pe::Image &img = Driver();
    EXPECT_EQ(img.machine, pe::kMachineI386);
    EXPECT_EQ(img.magic, 0x10B);
    EXPECT_EQ(img.subsystem, pe::kSubsystemNative);
    EXPECT_EQ(img.fileAlignment, 0x200u);
    EXPECT_EQ(img.sectionAlignment, 0x1000u);
    EXPECT_EQ(img.tlsDirectorySize, 0u);
    const pe::Section *text = img.section(".text");
    ASSERT_NE(text, nullptr);
    EXPECT_GE(img.entryRva, text->virtualAddress);
    EXPECT_LT(img.entryRva, text->virtualAddress + text->virtualSize);
}

TEST(Image, ExportsExactlyTheInterface)
{
    std::set<std::string> names;
    for (const pe::Export &e : Driver().exports)
        names.insert(e.name);
    std::set<std::string> expected = kFunctionExports;
    expected.insert(kDataExports.begin(), kDataExports.end());
    EXPECT_EQ(names, expected);

    const pe::Section *text = Driver().section(".text");
    for (const std::string &name : kFunctionExports) {
        const uint32_t rva = Driver().exported(name)->rva;
        EXPECT_TRUE(rva >= text->virtualAddress && rva < text->virtualAddress + text->virtualSize) << name;
    }
}

TEST(Image, ImportsOnlyTheKernelVideoPortAndSiblings)
{
    const pe::Image &img = Driver();
    std::set<std::string> modules;
    for (const pe::Import &i : img.imports)
        modules.insert(i.module);
    EXPECT_EQ(modules, (std::set<std::string>{"ntoskrnl.exe", "videoprt.sys", "kelv.sys", "rmx.sys"}));
    EXPECT_EQ(ImportsFrom(img, "ntoskrnl.exe"), (std::set<std::string>{"ExAllocatePoolWithTag", "ExFreePool"}));
    EXPECT_EQ(ImportsFrom(img, "videoprt.sys"), (std::set<std::string>{"VideoPortZeroMemory"}));
    EXPECT_EQ(ImportsFrom(img, "kelv.sys"), (std::set<std::string>{"_Attach@16"}));
    EXPECT_EQ(ImportsFrom(img, "rmx.sys"), (std::set<std::string>{"_AttachRMX@8", "_S_RMX_Control@12"}));
}

TEST(Image, SectionsAreNeverWritableAndExecutable)
{
    for (const pe::Section &s : Driver().sections) {
        EXPECT_FALSE((s.characteristics & pe::kScnWrite) && (s.characteristics & pe::kScnExecute)) << s.name;
        EXPECT_NE(s.name, ".tls");
        EXPECT_NE(s.name, ".CRT");
        EXPECT_NE(s.name, ".ctors");
    }
}

TEST(Image, BiosdllHoldsAttachEntryThenCatalogueAndNothingElse)
{
    const pe::Image &img = Driver();
    const pe::Section *s = img.section(".biosdll");
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->characteristics & pe::kScnWrite);
    EXPECT_TRUE(s->characteristics & pe::kScnRead);
    EXPECT_TRUE(s->characteristics & pe::kScnNotPaged);
    EXPECT_FALSE(s->characteristics & pe::kScnExecute);
    EXPECT_FALSE(s->characteristics & pe::kScnDiscardable);

    const uint32_t base = s->virtualAddress;
    EXPECT_EQ(img.u32At(base), 0u);  // BIOS_Attach, empty until an attach
    EXPECT_EQ(img.exported("modetable")->rva, base + 4);
    EXPECT_EQ(img.exported("modeTableSize")->rva, base + 4 + 62 * 30);
    EXPECT_EQ(img.exported("frequencytable")->rva, base + 8 + 62 * 30);
    EXPECT_EQ(img.exported("freqTableSize")->rva, base + 8 + 62 * 30 + 64);
    EXPECT_EQ(s->virtualSize, 12u + 62 * 30 + 64);
}

TEST(Image, CatalogueIsStoredAsBuilt)
{
    const pe::Image &img = Driver();
    const auto rows = img.read(img.exported("modetable")->rva, sizeof(modetable));
    EXPECT_EQ(std::memcmp(rows.data(), modetable, sizeof(modetable)), 0);
    EXPECT_EQ(img.u32At(img.exported("modeTableSize")->rva), 62u);
    const auto rates = img.read(img.exported("frequencytable")->rva, sizeof(frequencytable));
    EXPECT_EQ(std::memcmp(rates.data(), frequencytable, sizeof(frequencytable)), 0);
    EXPECT_EQ(img.u32At(img.exported("freqTableSize")->rva), 16u);
    // The published values start zero.
    for (const char *name : {"NumModesFromBIOSDLL", "ORVX_NUM_MODES", "pModeInfoFromBIOSDLL"})
        EXPECT_EQ(img.u32At(img.exported(name)->rva), 0u) << name;
}

TEST(Image, CanBeRelocatedAndCarriesItsChecksum)
{
    const pe::Image &img = Driver();
    EXPECT_FALSE(img.relocations.empty());
    for (uint32_t rva : img.relocations)
        EXPECT_LE(rva + 4, img.sizeOfImage);
    EXPECT_TRUE(img.dllCharacteristics & 0x0040);  // DYNAMIC_BASE
    EXPECT_NE(img.checksum, 0u);
    EXPECT_EQ(img.checksum, pe::ComputeChecksum(img.bytes, img.checksumOffset));
}

TEST(Image, VersionResourceNamesTheDriver)
{
    const auto &v = Driver().versionStrings;
    ASSERT_TRUE(v.count("OriginalFilename"));
    EXPECT_EQ(v.at("OriginalFilename"), "zerval.sys");
    EXPECT_EQ(v.at("InternalName"), "zerval.sys");
    EXPECT_NE(v.at("FileDescription").find("zerval"), std::string::npos);
    EXPECT_EQ(v.at("FileVersion"), "1.0.0.0");
    // A kernel-mode export driver: VFT_DRV, VFT2_DRV_SYSTEM (not a display
    // driver, which is what imports it).
    EXPECT_EQ(Driver().versionFileType, 3u);
    EXPECT_EQ(Driver().versionFileSubtype, 7u);
}

TEST(Image, ExampleDisplayDriverImportsEveryExport)
{
    const pe::Image example = pe::Load(ZERVAL_EXAMPLE_PATH);
    std::set<std::string> expected = kFunctionExports;
    expected.insert(kDataExports.begin(), kDataExports.end());
    EXPECT_EQ(ImportsFrom(example, "zerval.sys"), expected);
}

TEST(PeReader, RefusesWhatIsNotAPe32Image)
{
    EXPECT_THROW(pe::Parse({}), pe::BadImage);
    EXPECT_THROW(pe::Parse(std::vector<uint8_t>(64, 0)), pe::BadImage);
    std::vector<uint8_t> truncated(Driver().bytes.begin(), Driver().bytes.begin() + 0x100);
    EXPECT_THROW(pe::Parse(truncated), pe::BadImage);
}

} // namespace
