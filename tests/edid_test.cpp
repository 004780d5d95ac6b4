// The EDID reader against edid-decode, the reference decoder, on every real
// EDID kept in tests/data/edid: the same range limits and the same timings
// (established, standard, detailed) in the same order.  Then the published
// list zerval-sim shows for monitors taken from a few of them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "build_products.h"
#include "edid.h"
#include "monitor.h"
#include "run_tool.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(ZERVAL_SOURCE_DIR) + "/tests/data/edid";
const std::string kSim = products::Existing(products::kSim);

std::vector<uint8_t> Bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> EdidFiles()
{
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(kData))
        if (e.path().extension() == ".bin")
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// What edid-decode prints for the base block, read back from its text.
struct Reference {
    std::string version;
    bool hasRange = false;
    edid::RangeLimits range;
    struct Timing {
        std::string section;
        uint32_t width, height;
        bool interlaced;
        double hz;
    };
    std::vector<Timing> timings;
};

Reference Decoded(const std::string &path)
{
    const ToolRun run = RunTool("edid-decode", {path});
    if (run.out.empty())
        throw std::runtime_error("edid-decode printed nothing for " + path + " (is the edid-decode package installed?)");
    Reference r;
    std::istringstream in(run.out);
    std::string line, section;
    bool base = false;
    const std::regex timing(R"(^\s+(?:\S.*?):\s+(\d+)x(\d+)(i?)\s+([0-9.]+) Hz)");
    const std::regex ranges(R"(Monitor ranges \(.*\): (\d+)-(\d+) Hz V, (\d+)-(\d+) kHz H(?:, max dotclock (\d+) MHz)?)");
    const std::regex version(R"(EDID Structure Version & Revision: (\d+\.\d+))");
    std::smatch m;
    while (std::getline(in, line)) {
        if (line.rfind("Block ", 0) == 0) {
            base = line.rfind("Block 0,", 0) == 0;
            continue;
        }
        if (!base)
            continue;
        if (std::regex_search(line, m, version))
            r.version = m[1];
        if (line.rfind("  ", 0) == 0 && line.rfind("   ", 0) != 0)
            section = line.substr(2, line.find(':') - 2);
        if (std::regex_search(line, m, ranges)) {
            r.hasRange = true;
            r.range = {static_cast<uint32_t>(std::stoul(m[1])), static_cast<uint32_t>(std::stoul(m[2])),
                       static_cast<uint32_t>(std::stoul(m[3])), static_cast<uint32_t>(std::stoul(m[4])),
                       m[5].matched ? static_cast<uint32_t>(std::stoul(m[5])) : 0u};
        } else if ((section == "Established Timings I & II" || section == "Standard Timings" ||
                    section == "Detailed Timing Descriptors") &&
                   std::regex_search(line, m, timing)) {
            r.timings.push_back({section, static_cast<uint32_t>(std::stoul(m[1])), static_cast<uint32_t>(std::stoul(m[2])),
                                 m[3] == "i", std::stod(m[4])});
        }
    }
    return r;
}

const char *SectionOf(edid::TimingSource s)
{
    switch (s) {
    case edid::TimingSource::Established: return "Established Timings I & II";
    case edid::TimingSource::Standard: return "Standard Timings";
    case edid::TimingSource::Detailed: return "Detailed Timing Descriptors";
    }
    return "";
}

TEST(Edid, EveryKeptEdidDecodesAsEdidDecodeSays)
{
    const auto files = EdidFiles();
    ASSERT_EQ(files.size(), 32u);
    for (const std::string &path : files) {
        SCOPED_TRACE(path);
        const edid::Edid e = edid::Decode(Bytes(path));
        const Reference ref = Decoded(path);
        EXPECT_EQ(std::to_string(e.version) + "." + std::to_string(e.revision), ref.version);
        ASSERT_EQ(e.range.has_value(), ref.hasRange);
        if (e.range) {
            EXPECT_EQ(e.range->minVerticalHz, ref.range.minVerticalHz);
            EXPECT_EQ(e.range->maxVerticalHz, ref.range.maxVerticalHz);
            EXPECT_EQ(e.range->minHorizontalKHz, ref.range.minHorizontalKHz);
            EXPECT_EQ(e.range->maxHorizontalKHz, ref.range.maxHorizontalKHz);
            EXPECT_EQ(e.range->maxPixelClockMHz, ref.range.maxPixelClockMHz);
        }
        ASSERT_EQ(e.timings.size(), ref.timings.size());
        for (size_t i = 0; i < e.timings.size(); ++i) {
            SCOPED_TRACE("timing " + std::to_string(i));
            const edid::Timing &t = e.timings[i];
            const Reference::Timing &r = ref.timings[i];
            EXPECT_EQ(SectionOf(t.source), r.section);
            EXPECT_EQ(t.width, r.width);
            EXPECT_EQ(t.height, r.height);
            EXPECT_EQ(t.interlaced, r.interlaced);
            if (t.source == edid::TimingSource::Detailed)  // computed: to the thousandth
                EXPECT_NEAR(t.refreshMilliHz / 1000.0, r.hz, 0.0015);
            else  // nominal: the exact timing edid-decode names lies within 1 Hz
                EXPECT_LT(std::fabs(t.refreshHz() - r.hz), 1.0);
        }
    }
}

TEST(Edid, HexDumpReadsLikeTheBinary)
{
    const std::string path = kData + "/analog-02.bin";
    const ToolRun dump = RunTool("edid-decode", {path});
    EXPECT_EQ(edid::BytesOf(dump.out), Bytes(path));
    // xxd -p style: no spaces.
    std::string plain;
    char buf[3];
    for (uint8_t b : Bytes(path)) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        plain += buf;
        if (plain.size() % 61 == 60)
            plain += "\n";
    }
    EXPECT_EQ(edid::BytesOf(plain), Bytes(path));
}

// The monitor taken from an EDID decides which published modes are usable;
// the controller here accepts every mode at every rate.
nlohmann::json PublishedWith(const std::string &edidFile)
{
    const ScratchFolder s;
    const std::string acceptAll = s.file("accept-all.json", "{}");
    const ToolRun run = RunTool(kSim, {"--profile", acceptAll, "--edid", kData + "/" + edidFile, "list", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out);
}

TEST(Edid, RangeLimitsDecideWhatIsUsable)
{
    for (const char *file : {"analog-02.bin", "digital-01.bin", "analog-14.bin"}) {
        SCOPED_TRACE(file);
        const edid::RangeLimits r = *edid::Decode(Bytes(kData + "/" + file)).range;
        const nlohmann::json list = PublishedWith(file);
        ASSERT_FALSE(list["modes"].empty());
        size_t usable = 0, unusable = 0;
        for (const auto &m : list["modes"]) {
            const uint64_t w = m["width"], h = m["height"], hz = m["frequency"];
            const bool within = hz >= r.minVerticalHz && hz <= r.maxVerticalHz && h * hz <= r.maxHorizontalKHz * 1000ull &&
                                w * h * hz <= r.maxPixelClockMHz * 1000000ull;
            EXPECT_EQ(m["usable"].get<bool>(), within) << w << "x" << h << "@" << hz;
            (within ? usable : unusable) += 1;
        }
        EXPECT_GT(usable, 0u);
        EXPECT_GT(unusable, 0u);
    }
}

TEST(Edid, WithoutRangeLimitsOnlyTheListedTimingsAreUsable)
{
    for (const char *file : {"analog-01.bin", "digital-13.bin"}) {
        SCOPED_TRACE(file);
        const edid::Edid e = edid::Decode(Bytes(kData + "/" + file));
        ASSERT_FALSE(e.range);
        const nlohmann::json list = PublishedWith(file);
        ASSERT_FALSE(list["modes"].empty());
        for (const auto &m : list["modes"]) {
            const uint32_t w = m["width"], h = m["height"], hz = m["frequency"];
            const bool listed = std::any_of(e.timings.begin(), e.timings.end(), [&](const edid::Timing &t) {
                return !t.interlaced && t.width == w && t.height == h && t.refreshHz() == hz;
            });
            EXPECT_EQ(m["usable"].get<bool>(), listed) << w << "x" << h << "@" << hz;
        }
    }
    // analog-01 lists 640x480 at 60 Hz among its established timings.
    const nlohmann::json list = PublishedWith("analog-01.bin");
    EXPECT_TRUE(std::any_of(list["modes"].begin(), list["modes"].end(), [](const nlohmann::json &m) {
        return m["width"] == 640 && m["height"] == 480 && m["frequency"] == 60 && m["usable"] == true;
    }));
}

TEST(Edid, AProfileNamesItsEdidBesideIt)
{
    const ScratchFolder s;
    fs::copy_file(kData + "/analog-02.bin", fs::path(s.dir()) / "monitor.bin");
    const std::string profile = s.file("p.json", R"({"name": "with-edid", "edid": "monitor.bin"})");
    const ToolRun run = RunTool(kSim, {"--profile", profile, "profile"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json p = nlohmann::json::parse(run.out);
    EXPECT_EQ(p["monitorMinRefresh"], 55);
    EXPECT_EQ(p["monitorMaxRefresh"], 76);
    EXPECT_EQ(p["monitorMaxLineRate"], 81000);
    EXPECT_EQ(p["monitorMaxPixelRate"], 140000000);
}

} // namespace
