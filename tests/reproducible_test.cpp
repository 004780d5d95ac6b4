// The image project built twice per dialect from the same sources, in two
// folders (tests/reproducible_build.sh): the shipped files are the same to
// the byte, the MSVC image's PDB is the one it names, and nothing shipped
// names the folder the sources or either build lay in.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pdb_signature.h"
#include "pe_image.h"

namespace {

struct Dialect {
    const char *name;
    std::vector<std::string> shipped;  // beside the image, in each build folder
};
const Dialect kDialects[] = {
    {"gnu", {"zerval.sys", "zerval.map", "libzerval.a"}},
    {"msvc", {"zerval.sys", "zerval.pdb", "zerval.map", "zerval.lib", "msvc/ntoskrnl.lib", "msvc/videoprt.lib",
              "msvc/hal.lib"}},
};

std::string First(const Dialect &d) { return std::string(ZERVAL_REPRODUCIBLE_DIR) + "/" + d.name + "-1"; }
std::string Second(const Dialect &d)
{
    return First(d) + "/second-build-folder/" + d.name + "-2";
}

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder as a tool may record it: as given, with backslashes, with every
// character but letters and digits as '_' (dlltool's member names), in UTF-16.
std::vector<std::string> Spellings(const std::string &folder)
{
    std::string back = folder, mangled = folder, wide;
    for (char &c : back)
        c = c == '/' ? '\\' : c;
    for (char &c : mangled)
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    for (char c : folder) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    return {folder, back, mangled, wide};
}

void PrintTo(const Dialect &d, std::ostream *os) { *os << d.name; }

class Reproducible : public ::testing::TestWithParam<Dialect> {};

TEST_P(Reproducible, SameBytesFromTwoFolders)
{
    for (const std::string &file : GetParam().shipped) {
        const std::string a = Slurp(First(GetParam()) + "/" + file);
        const std::string b = Slurp(Second(GetParam()) + "/" + file);
        EXPECT_FALSE(a.empty()) << file;
        EXPECT_TRUE(a == b) << file << " differs between " << First(GetParam()) << " and " << Second(GetParam());
    }
    const pe::Image image = pe::Load(First(GetParam()) + "/zerval.sys");
    EXPECT_NE(TimeDateStamp(image), 0u);
}

TEST_P(Reproducible, NothingShippedNamesAFolderOfTheBuild)
{
    std::vector<std::string> folders = {ZERVAL_SOURCE_DIR, ZERVAL_REPRODUCIBLE_DIR, "second-build-folder"};
    for (const std::string &file : GetParam().shipped)
        for (const std::string &dir : {First(GetParam()), Second(GetParam())}) {
            const std::string bytes = Slurp(dir + "/" + file);
            for (const std::string &folder : folders)
                for (const std::string &spelling : Spellings(folder))
                    EXPECT_EQ(bytes.find(spelling), std::string::npos) << dir << "/" << file << " names " << folder;
        }
}

INSTANTIATE_TEST_SUITE_P(Dialects, Reproducible, ::testing::ValuesIn(kDialects),
                         [](const ::testing::TestParamInfo<Dialect> &info) { return std::string(info.param.name); });

TEST(ReproducibleMsvc, EachPdbMatchesItsImage)
{
    for (const std::string &dir : {First(kDialects[1]), Second(kDialects[1])}) {
        const CodeViewRecord cv = ReadCodeView(pe::Load(dir + "/zerval.sys"));
        const PdbSignature pdb = ReadPdbSignature(dir + "/zerval.pdb");
        EXPECT_EQ(cv.guid, pdb.guid) << dir;
        EXPECT_EQ(cv.age, pdb.age) << dir;
        EXPECT_EQ(cv.age, pdb.dbiAge) << dir;
    }
}

} // namespace
