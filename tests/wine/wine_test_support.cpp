#include "wine_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "build_products.h"
#include "run_tool.h"

namespace winetest {

namespace fs = std::filesystem;

const std::string kWine = products::Existing(products::kWine);
const std::string kImage = products::Existing(products::kImageGnu);
const std::string kTv = products::Existing(products::kExampleTv);
const std::string kBase = ZERVAL_WINE_BASE;
const std::string kDrivers = ZERVAL_WINE_DRIVERS_DIR;
const std::string kSupport = ZERVAL_WINE_SUPPORT_DIR;
const std::string kCheck = kSupport + "/host_i386.sh";

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> FileLines(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Lines(std::string(std::istreambuf_iterator<char>(in), {}));
}

::testing::AssertionResult HasLine(const std::vector<std::string> &lines, const std::string &pattern)
{
    const std::regex re(pattern);
    for (const std::string &l : lines)
        if (std::regex_match(l, re))
            return ::testing::AssertionSuccess();
    std::string all;
    for (const std::string &l : lines)
        all += "\n  " + l;
    return ::testing::AssertionFailure() << "no line matches " << pattern << " in:" << all;
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : name_(name)
{
    if (const char *old = std::getenv(name))
        old_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::vector<std::string> Scratch::leftOver() const
{
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(dir()))
        left.push_back(e.path().filename().string());
    return left;
}

std::vector<std::string> WineProcessesUnder(const std::string &folder)
{
    std::vector<std::string> found;
    const std::string needle = "WINEPREFIX=" + folder;
    for (const auto &e : fs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(e.path() / "environ", std::ios::binary);
        const std::string env(std::istreambuf_iterator<char>(in), {});
        for (size_t at = 0; at < env.size(); at = env.find('\0', at) + 1) {
            if (env.compare(at, needle.size(), needle) == 0) {
                std::ifstream cmd(e.path() / "cmdline", std::ios::binary);
                found.push_back(pid + " " + std::string(std::istreambuf_iterator<char>(cmd), {}));
                break;
            }
            if (env.find('\0', at) == std::string::npos)
                break;
        }
    }
    return found;
}

void ExpectNothingLeft(const Scratch &s)
{
    EXPECT_EQ(s.leftOver(), std::vector<std::string>{});
    EXPECT_EQ(WineProcessesUnder(s.dir()), std::vector<std::string>{});
}

std::vector<std::string> WineArgs(const std::string &services, std::vector<std::string> more)
{
    std::vector<std::string> args = {"--base-prefix", kBase,    "--timeout", "60", "--layout", "drivers",
                                     "--services",    services, "--tv",      kTv,  "--image",  kImage};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::optional<std::string> WhyWineCannotRun()
{
    static const ToolRun check = RunTool(kCheck, {"--wine"});
    if (check.status == 0)
        return std::nullopt;
    std::string why = check.out.empty() ? check.err : check.out;
    while (!why.empty() && why.back() == '\n')
        why.pop_back();
    return why;
}

} // namespace winetest
