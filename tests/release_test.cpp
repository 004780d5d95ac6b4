// What a release carries besides the image's behaviour: every tool says the
// release, the installed headers carry it, and pe-finish stamps an image by
// its contents.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "build_products.h"
#include "pdb_signature.h"
#include "pe_image.h"
#include "run_tool.h"
#include "scratch_folder.h"
#include "zerval.h"

using namespace std::string_literals;

namespace {

constexpr products::Product kTools[] = {
    {"zerval-sim", "ZERVAL_SIM", "bin/zerval-sim"},
    {"zerval-bench", "ZERVAL_BENCH", "bin/zerval-bench"},
    {"zerval-host-bench", "ZERVAL_HOST_BENCH", "bin/zerval-host-bench"},
    {"pe-finish", "ZERVAL_PE_FINISH", "bin/pe-finish"},
    {"biosdll-check", "ZERVAL_BIOSDLL_CHECK", "bin/biosdll-check"},
};
constexpr products::Product kPeFinish = kTools[3];
constexpr products::Product kImageTools[] = {kTools[3], kTools[4]};
constexpr products::Product kSdkVersionHeader = {"the SDK's version header", "ZERVAL_SDK_VERSION_HEADER",
                                                 "sdk/include/zerval_version.h"};

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Release, EveryToolSaysTheReleaseInOneLine)
{
    for (const products::Product &tool : kTools) {
        const ToolRun run = RunTool(products::Existing(tool), {"--version"});
        EXPECT_EQ(run.status, 0) << tool.what;
        EXPECT_EQ(run.out, std::string(tool.what) + " " + ZERVAL_PROJECT_VERSION + "\n") << tool.what;
        EXPECT_EQ(run.err, "") << tool.what;
    }
}

// The build's image tools read with a bound: an endless file is refused
// after 16 MiB and one byte, in one line; a file that is not there and a
// wrong command line are one line each too.
TEST(ImageTools, EveryBadInputIsOneLine)
{
    for (const products::Product &tool : kImageTools) {
        const std::string name = tool.what;
        ToolRun run = RunTool(products::Existing(tool), {"/dev/zero"});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err, name + ": /dev/zero: larger than 16 MiB, the most an image file may be\n");
        run = RunTool(products::Existing(tool), {"/no/such.sys"});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err, name + ": /no/such.sys: cannot open /no/such.sys\n");
        run = RunTool(products::Existing(tool), {"a.sys", "b.sys"});
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(run.err, "usage: " + name + " IMAGE (or --version)\n");
        EXPECT_EQ(run.out, "") << name;
    }
}

// The headers a display driver compiles against, here and as the SDK ships
// them (written by the image builds from the version they were handed).
TEST(Release, HeadersCarryTheRelease)
{
    EXPECT_STREQ(ZERVAL_VERSION, ZERVAL_PROJECT_VERSION);
    EXPECT_EQ(std::to_string(ZERVAL_VERSION_MAJOR) + "." + std::to_string(ZERVAL_VERSION_MINOR) + "." +
                  std::to_string(ZERVAL_VERSION_PATCH),
              ZERVAL_PROJECT_VERSION);
    const std::string sdk = Slurp(products::Existing(kSdkVersionHeader));
    EXPECT_NE(sdk.find(std::string("#define ZERVAL_VERSION \"") + ZERVAL_PROJECT_VERSION + "\"\n"), std::string::npos)
        << sdk;
}

// pe-finish run on copies of the GNU image: a TimeDateStamp of 0 becomes one
// derived from the contents (the same for the same bytes, another for other
// bytes, never 0), a linker's stamp is kept, and the checksum is written
// after the stamp.
class PeFinishStamp : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::filesystem::path dir = scratch.dir();

    // A copy of the image with its stamp set to `stamp` and, if `edit` >= 0,
    // one byte of its version strings changed; finished by pe-finish.
    pe::Image Finished(const std::string &name, uint32_t stamp, int edit)
    {
        pe::Image img = pe::Load(products::Existing(products::kImageGnu));
        const uint32_t at = uint32_t(img.bytes[0x3C] | img.bytes[0x3D] << 8) + 8;
        for (int i = 0; i < 4; ++i)
            img.bytes[at + i] = static_cast<uint8_t>(stamp >> (8 * i));
        if (edit >= 0) {
            const std::string text = "z\0e\0r\0v\0a\0l\0 \0p\0r\0o\0j\0e\0c\0t"s;
            const std::string bytes(img.bytes.begin(), img.bytes.end());
            const size_t found = bytes.find(text);
            EXPECT_NE(found, std::string::npos) << "no CompanyName text in the image";
            img.bytes[found] = static_cast<uint8_t>('Z');
        }
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(img.bytes.data()),
                                                    static_cast<std::streamsize>(img.bytes.size()));
        const ToolRun run = RunTool(products::Existing(kPeFinish), {path});
        EXPECT_EQ(run.status, 0) << run.err;
        return pe::Load(path);
    }
};

TEST_F(PeFinishStamp, ComesFromTheContentsWhereTheLinkerLeftNone)
{
    const pe::Image a = Finished("a.sys", 0, -1);
    const pe::Image again = Finished("again.sys", 0, -1);
    const pe::Image edited = Finished("edited.sys", 0, 0);
    EXPECT_NE(TimeDateStamp(a), 0u);
    EXPECT_EQ(TimeDateStamp(a), TimeDateStamp(again));
    EXPECT_EQ(a.bytes, again.bytes);
    EXPECT_NE(TimeDateStamp(edited), 0u);
    EXPECT_NE(TimeDateStamp(edited), TimeDateStamp(a));
    for (const pe::Image *img : {&a, &edited})
        EXPECT_EQ(img->checksum, pe::ComputeChecksum(img->bytes, img->checksumOffset));
}

TEST_F(PeFinishStamp, KeepsTheLinkersStamp)
{
    const pe::Image linked = Finished("linked.sys", 0x5EED1234u, -1);
    EXPECT_EQ(TimeDateStamp(linked), 0x5EED1234u);
    EXPECT_EQ(linked.checksum, pe::ComputeChecksum(linked.bytes, linked.checksumOffset));
}

// The images the build made carry a stamp (GNU: pe-finish's; MSVC: lld-link's
// /Brepro hash), so a symbol store tells their builds apart.
TEST(Release, BothImagesCarryAStamp)
{
    const pe::Image gnu = pe::Load(products::Existing(products::kImageGnu));
    const pe::Image msvc = pe::Load(products::Existing(products::kImageMsvc));
    EXPECT_NE(TimeDateStamp(gnu), 0u);
    EXPECT_NE(TimeDateStamp(msvc), 0u);
    EXPECT_NE(TimeDateStamp(gnu), TimeDateStamp(msvc));
}

} // namespace
