// The example INF of a display-driver package, as the SDK archive ships it
// (examples/inf/zerval-display.inf, unpacked by tests/release_archive.sh),
// judged by the INF checker against the unpacked SDK; and the checker's own
// rules on broken copies of it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "inf_check.h"

namespace {

const std::string kKit = ZERVAL_KIT_DIR;

std::string ShippedInf()
{
    std::ifstream in(kKit + "/examples/inf/zerval-display.inf", std::ios::binary);
    EXPECT_TRUE(in) << kKit << "/examples/inf/zerval-display.inf";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The shipped INF with `from` replaced by `to` (which must be there).
std::string Edited(const std::string &from, const std::string &to)
{
    std::string text = ShippedInf();
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string Joined(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += l + "\n";
    return s;
}

TEST(Inf, ShippedPackageIsWholeAgainstTheSdk)
{
    const InfPackage pkg = CheckDriverPackage(ShippedInf(), kKit);
    EXPECT_EQ(pkg.faults, std::vector<std::string>{}) << Joined(pkg.faults);
    // zerval.sys with both siblings and the display driver that imports it;
    // services for the display driver and the two siblings.
    EXPECT_EQ(std::set<std::string>(pkg.copied.begin(), pkg.copied.end()),
              (std::set<std::string>{"zerval.sys", "kelv.sys", "rmx.sys", "example_display.sys"}));
    EXPECT_EQ(std::set<std::string>(pkg.services.begin(), pkg.services.end()),
              (std::set<std::string>{"example_display", "kelv", "rmx"}));
    EXPECT_EQ(pkg.driverVersion, std::string(ZERVAL_PROJECT_VERSION) + ".0");
}

TEST(Inf, ReaderFollowsTheFormat)
{
    const Inf inf = ReadInf("; comment\n"
                            "[Version]\n"
                            "Signature = \"$Windows NT$\" ; trailing comment\n"
                            "[strings]\n"
                            "Name = \"a \"\"quoted\"\" name; not a comment\"\n"
                            "[Other]\n"
                            "Key = %name%, 100%%, %12%\\x.sys, \\\n"
                            "      continued\n"
                            "bare.sys\n");
    EXPECT_EQ(inf.faults, std::vector<std::string>{}) << Joined(inf.faults);
    EXPECT_EQ(inf.value("VERSION", "signature"), "$Windows NT$");
    ASSERT_NE(inf.section("other"), nullptr);
    const std::vector<InfLine> &other = *inf.section("Other");
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(other[0].fields,
              (std::vector<std::string>{"a \"quoted\" name; not a comment", "100%", "%12%\\x.sys", "continued"}));
    EXPECT_EQ(other[1].key, "");
    EXPECT_EQ(other[1].fields, std::vector<std::string>{"bare.sys"});
}

// One fault at a time in a copy of the shipped INF; each is named.
TEST(Inf, CheckerNamesEachFault)
{
    struct Case {
        const char *what;
        std::string text;
        const char *named;
    };
    const Case cases[] = {
        {"a token not in [Strings]", Edited("Provider   = %Provider%", "Provider   = %Vendor%"), "%Vendor%"},
        {"a copy section that is missing", Edited("CopyFiles = Drivers.Copy", "CopyFiles = Drivers.Kopy"),
         "[Drivers.Kopy]"},
        {"a file not in the SDK", Edited("rmx.sys             = 1,sys\\examples", "rmx.sys             = 1,sys\\tv"),
         "rmx.sys is not at"},
        {"a file without a source disk", Edited("kelv.sys            = 1,sys\\examples\n", ""),
         "kelv.sys is not in [SourceDisksFiles]"},
        {"a service whose image is not copied", Edited("ServiceBinary  = %12%\\rmx.sys", "ServiceBinary  = %12%\\tv.sys"),
         "tv.sys is not among the files copied"},
        {"a service without its install section", Edited("AddService = kelv, , Kelv_Service", "AddService = kelv, , Kelv_Svc"),
         "[Kelv_Svc]"},
        {"files bound elsewhere than the drivers folder", Edited("Drivers.Copy   = 12", "Drivers.Copy   = 11"),
         "not 12"},
        {"not an NT INF", Edited("\"$Windows NT$\"", "\"$Windows 95$\""), "Signature"},
        {"a malformed version", Edited("DriverVer  = 12/09/2026,", "DriverVer  = 2026-12-09,"), "DriverVer"},
    };
    for (const Case &c : cases) {
        const InfPackage pkg = CheckDriverPackage(c.text, kKit);
        EXPECT_NE(Joined(pkg.faults).find(c.named), std::string::npos)
            << c.what << ": expected a fault naming " << c.named << ", got:\n"
            << Joined(pkg.faults);
    }
}

} // namespace
