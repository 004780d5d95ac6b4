// Facts about the built zerval.sys, read from the file with the PE reader:
// the same facts of the image built in either dialect.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "build_products.h"
#include "run_tool.h"
#include "version_resource.h"
#include "pdb_signature.h"
#include "pe_image.h"
#include "shipped_catalogue.h"
#include "zerval.h"

namespace {

// One image and its build folder's example display driver, linked against
// that folder's import library.
struct Build {
    const char *name;
    products::Product image;
    products::Product example;
};
const Build kBuilds[] = {
    {"Gnu", products::kImageGnu, products::kExampleDisplay},
    {"Msvc", products::kImageMsvc, products::kExampleDisplayMsvc},
};

class Image : public ::testing::TestWithParam<Build> {
protected:
    const pe::Image &Driver()
    {
        static std::map<std::string, pe::Image> loaded;
        const std::string path = products::Existing(GetParam().image);
        auto it = loaded.find(path);
        if (it == loaded.end())
            it = loaded.emplace(path, pe::Load(path)).first;
        return it->second;
    }
};

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

TEST_P(Image, IsA32BitNativeDriver)
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

TEST_P(Image, ExportsExactlyTheInterface)
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

TEST_P(Image, ImportsOnlyTheKernelVideoPortAndSiblings)
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

TEST_P(Image, SectionsAreNeverWritableAndExecutable)
{
    for (const pe::Section &s : Driver().sections) {
        EXPECT_FALSE((s.characteristics & pe::kScnWrite) && (s.characteristics & pe::kScnExecute)) << s.name;
        EXPECT_NE(s.name, ".tls");
        EXPECT_NE(s.name, ".CRT");
        EXPECT_NE(s.name, ".ctors");
    }
}

TEST_P(Image, BiosdllHoldsAttachEntryThenCatalogueAndNothingElse)
{
    const pe::Image &img = Driver();
    const pe::Section *s = img.section(".biosdll");
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->characteristics & pe::kScnWrite);
    EXPECT_TRUE(s->characteristics & pe::kScnRead);
    EXPECT_TRUE(s->characteristics & pe::kScnNotPaged);
    EXPECT_FALSE(s->characteristics & pe::kScnExecute);
    EXPECT_FALSE(s->characteristics & pe::kScnDiscardable);

    // As documented: BIOS_Attach (4 bytes), modetable (62 rows of 30 bytes),
    // modeTableSize (4), frequencytable (16 entries of 4 bytes), freqTableSize
    // (4), in this order, with no gaps.
    constexpr uint32_t kModeTableBytes = 62 * 30;
    constexpr uint32_t kFrequencyTableBytes = 16 * 4;
    const uint32_t base = s->virtualAddress;
    EXPECT_EQ(img.u32At(base), 0u);  // BIOS_Attach, empty until an attach
    EXPECT_EQ(img.exported("modetable")->rva, base + 4);
    EXPECT_EQ(img.exported("modeTableSize")->rva, base + 4 + kModeTableBytes);
    EXPECT_EQ(img.exported("frequencytable")->rva, base + 4 + kModeTableBytes + 4);
    EXPECT_EQ(img.exported("freqTableSize")->rva, base + 4 + kModeTableBytes + 4 + kFrequencyTableBytes);
    EXPECT_EQ(s->virtualSize, 4 + kModeTableBytes + 4 + kFrequencyTableBytes + 4);
}

// The file holds the catalogue as documented, byte for byte.
TEST_P(Image, CatalogueIsStoredAsDocumented)
{
    const pe::Image &img = Driver();
    const std::vector<ModeTableEntry> expected = shipped::Rows();
    const auto rows = img.read(img.exported("modetable")->rva, 62 * sizeof(ModeTableEntry));
    ASSERT_EQ(rows.size(), expected.size() * sizeof(ModeTableEntry));
    EXPECT_EQ(std::memcmp(rows.data(), expected.data(), rows.size()), 0);
    EXPECT_EQ(img.u32At(img.exported("modeTableSize")->rva), 62u);
    const auto rates = img.read(img.exported("frequencytable")->rva, 16 * sizeof(uint32_t));
    ASSERT_EQ(rates.size(), shipped::Rates().size() * 4);
    EXPECT_EQ(std::memcmp(rates.data(), shipped::Rates().data(), rates.size()), 0);
    EXPECT_EQ(img.u32At(img.exported("freqTableSize")->rva), 16u);
    // The published values start zero.
    for (const char *name : {"NumModesFromBIOSDLL", "ORVX_NUM_MODES", "pModeInfoFromBIOSDLL"})
        EXPECT_EQ(img.u32At(img.exported(name)->rva), 0u) << name;
}

TEST_P(Image, CanBeRelocatedAndCarriesItsChecksum)
{
    const pe::Image &img = Driver();
    EXPECT_FALSE(img.relocations.empty());
    for (uint32_t rva : img.relocations)
        EXPECT_LE(rva + 4, img.sizeOfImage);
    EXPECT_TRUE(img.dllCharacteristics & 0x0040);  // DYNAMIC_BASE
    EXPECT_NE(img.checksum, 0u);
    EXPECT_EQ(img.checksum, pe::ComputeChecksum(img.bytes, img.checksumOffset));
}

// The release as the project's version gives it (MAJOR.MINOR.PATCH), and the
// licence's copyright line, which the resource repeats.
std::array<uint16_t, 4> ProjectVersion()
{
    std::array<uint16_t, 4> v{};
    EXPECT_EQ(std::sscanf(ZERVAL_PROJECT_VERSION, "%hu.%hu.%hu", &v[0], &v[1], &v[2]), 3) << ZERVAL_PROJECT_VERSION;
    return v;
}

std::string CopyrightLine()
{
    std::ifstream in(std::string(ZERVAL_SOURCE_DIR) + "/LICENSE");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Copyright ", 0) == 0)
            return line;
    ADD_FAILURE() << "no copyright line in LICENSE";
    return "";
}

// What a driver package's tools and Explorer's properties show: the release
// in the fixed part and in the strings, the driver's names, the licence.
TEST_P(Image, VersionResourceCarriesTheRelease)
{
    const VersionResource r = ReadVersionResource(Driver());
    const std::array<uint16_t, 4> release = ProjectVersion();
    EXPECT_EQ(r.fileVersion, release);
    EXPECT_EQ(r.productVersion, release);
    // A kernel-mode export driver for NT: VOS_NT_WINDOWS32, VFT_DRV,
    // VFT2_DRV_SYSTEM (not a display driver, which is what imports it).
    EXPECT_EQ(r.fileOs, 0x00040004u);
    EXPECT_EQ(r.fileType, 3u);
    EXPECT_EQ(r.fileSubtype, 7u);

    const std::string dotted = std::string(ZERVAL_PROJECT_VERSION);
    std::map<std::string, std::string> expected = {
        {"FileVersion", dotted + ".0"},   {"ProductVersion", dotted},
        {"OriginalFilename", "zerval.sys"}, {"InternalName", "zerval.sys"},
        {"ProductName", "zerval"},         {"LegalCopyright", CopyrightLine()},
    };
    for (const auto &[name, value] : expected) {
        ASSERT_TRUE(r.strings.count(name)) << name;
        EXPECT_EQ(r.strings.at(name), value) << name;
    }
    for (const char *name : {"CompanyName", "FileDescription"}) {
        ASSERT_TRUE(r.strings.count(name)) << name;
        EXPECT_FALSE(r.strings.at(name).empty()) << name;
    }
    EXPECT_NE(r.strings.at("FileDescription").find("zerval"), std::string::npos);
    // The emulator's PE reader reads the same strings.
    EXPECT_EQ(Driver().versionStrings, r.strings);
    EXPECT_EQ(Driver().versionFileType, r.fileType);
    EXPECT_EQ(Driver().versionFileSubtype, r.fileSubtype);
}

// The same resource as binutils' windres decompiles it.
TEST_P(Image, VersionResourceAsWindresReadsIt)
{
    const ToolRun run = RunTool(ZERVAL_WINDRES, {"-i", products::Existing(GetParam().image), "-O", "rc"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::array<uint16_t, 4> v = ProjectVersion();
    const std::string numbers = std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " + std::to_string(v[2]) + ", 0";
    EXPECT_NE(run.out.find(" FILEVERSION " + numbers + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" PRODUCTVERSION " + numbers + "\n"), std::string::npos) << run.out;
    const std::string dotted = ZERVAL_PROJECT_VERSION;
    EXPECT_NE(run.out.find("VALUE \"FileVersion\", \"" + dotted + ".0\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("VALUE \"ProductVersion\", \"" + dotted + "\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("VALUE \"LegalCopyright\", \"" + CopyrightLine() + "\""), std::string::npos) << run.out;
}

TEST_P(Image, ExampleDisplayDriverImportsEveryExport)
{
    const pe::Image example = pe::Load(products::Existing(GetParam().example));
    std::set<std::string> expected = kFunctionExports;
    expected.insert(kDataExports.begin(), kDataExports.end());
    EXPECT_EQ(ImportsFrom(example, "zerval.sys"), expected);
}

INSTANTIATE_TEST_SUITE_P(Dialects, Image, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<Build> &info) { return std::string(info.param.name); });

// lld-link reads mingw-w64's import library as well: the example display
// driver of the MSVC dialect, linked against libzerval.a, imports the same.
TEST(ImageMsvc, ExampleLinkedAgainstTheGnuImportLibraryImportsEveryExport)
{
    const pe::Image example = pe::Load(products::Existing(products::kExampleDisplayMsvcGnuLib));
    std::set<std::string> expected = kFunctionExports;
    expected.insert(kDataExports.begin(), kDataExports.end());
    EXPECT_EQ(ImportsFrom(example, "zerval.sys"), expected);
}

// The MSVC dialect's image names its PDB without a directory, for the
// debugger to find it beside the image; the PDB is there.
TEST(ImageMsvc, NamesItsPdbWhichLiesBesideIt)
{
    const std::string path = products::Existing(products::kImageMsvc);
    const pe::Image img = pe::Load(path);
    const std::string bytes(img.bytes.begin(), img.bytes.end());
    const size_t cv = bytes.find("RSDS");
    ASSERT_NE(cv, std::string::npos) << "no CodeView record";
    // "RSDS", a 16-byte GUID, a 4-byte age, then the file name.
    EXPECT_EQ(std::string(bytes.c_str() + cv + 24), "zerval.pdb");

    std::string pdbPath = path;
    pdbPath.replace(pdbPath.size() - 3, 3, "pdb");
    std::ifstream pdb(pdbPath, std::ios::binary);
    ASSERT_TRUE(pdb) << pdbPath;
    const std::string magic = "Microsoft C/C++ MSF 7.00\r\n";
    std::string head(magic.size(), '\0');
    pdb.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, magic);
}

// The PDB beside the MSVC image is the one the image names: the GUID and age
// of its CodeView record are the PDB's (info stream and DBI stream).
TEST(ImageMsvc, PdbMatchesTheImage)
{
    const std::string path = products::Existing(products::kImageMsvc);
    const CodeViewRecord cv = ReadCodeView(pe::Load(path));
    const PdbSignature pdb = ReadPdbSignature(path.substr(0, path.size() - 3) + "pdb");
    EXPECT_EQ(cv.pdbName, "zerval.pdb");
    EXPECT_EQ(cv.guid, pdb.guid);
    EXPECT_EQ(cv.age, pdb.age);
    EXPECT_EQ(cv.age, pdb.dbiAge);
    EXPECT_NE(cv.guid, Guid{});
}

TEST(PeReader, RefusesWhatIsNotAPe32Image)
{
    const pe::Image Driver = pe::Load(products::Existing(products::kImageGnu));
    EXPECT_THROW(pe::Parse({}), pe::BadImage);
    EXPECT_THROW(pe::Parse(std::vector<uint8_t>(64, 0)), pe::BadImage);
    std::vector<uint8_t> truncated(Driver.bytes.begin(), Driver.bytes.begin() + 0x100);
    EXPECT_THROW(pe::Parse(truncated), pe::BadImage);
}

} // namespace
