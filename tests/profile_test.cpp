// The adapter model: profiles as data and the answers they give.
#include <gtest/gtest.h>

#include <stdexcept>

#include "profile.h"

namespace {

using sim::Decide;
using sim::ProfileFromJson;
using sim::Query;

std::string ErrorOf(const std::string &json)
{
    try {
        ProfileFromJson(json);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "";
}

TEST(Profile, RoundTripsThroughJson)
{
    const sim::Profile p = sim::DefaultProfile();
    const sim::Profile q = ProfileFromJson(sim::ProfileToJson(p));
    EXPECT_EQ(sim::ProfileToJson(q), sim::ProfileToJson(p));
    EXPECT_EQ(q.name, "default");
    EXPECT_EQ(q.depths, (std::vector<uint16_t>{8, 16, 24, 32}));
}

TEST(Profile, BadInputNamesTheField)
{
    EXPECT_NE(ErrorOf("{").find("not valid JSON"), std::string::npos);
    EXPECT_NE(ErrorOf("[]").find("JSON object"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"maxWidht": 5})").find("'maxWidht': unknown field"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"maxWidth": -1})").find("'maxWidth'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"maxWidth": "big"})").find("'maxWidth'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"depths": [8, 15]})").find("'depths[1]'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"rates": [60, 300]})").find("'rates[1]'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"hooks": ["pfnNope"]})").find("'hooks'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"tvAttributes": 1})").find("'tvAttributes'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"initSucceeds": 1})").find("'initSucceeds'"), std::string::npos);
    EXPECT_EQ(ErrorOf(R"({"passThroughResult": -1})"), "");
    // Signed where the field is signed, without wrapping; whole numbers only.
    EXPECT_NE(ErrorOf(R"({"passThroughResult": 18446744073709551615})").find("'passThroughResult'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"passThroughResult": 2147483648})").find("'passThroughResult'"), std::string::npos);
    EXPECT_EQ(ErrorOf(R"({"passThroughResult": -2147483648})"), "");
    EXPECT_NE(ErrorOf(R"({"functionResult": 4294967296})").find("'functionResult'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"maxWidth": 1.5})").find("'maxWidth'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"monitorModes": ["1280x1024"]})").find("'monitorModes[0]'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"monitorModes": ["1280x1024@300"]})").find("'monitorModes[0]'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"edid": "m.bin", "monitorModes": ["640x480@60"]})").find("'edid'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"monitorMinRefresh": 70, "monitorMaxRefresh": 60})").find("'monitorMinRefresh'"), std::string::npos);
}

// The adapter on its bus, as a miniport finds it: the ranges may not
// overlap or run out of the bus, the registry holds numbers and strings.
TEST(Profile, TheAdaptersBusResourcesAndRegistry)
{
    const sim::Profile p = ProfileFromJson(R"({"videoMemoryBytes": 4194304, "framebufferBase": 3758096384,
        "registersBase": 4026531840, "registersBytes": 4096, "registry": {"AttachParam": 3, "Name": "zerval"}})");
    EXPECT_EQ(sim::FramebufferBytes(p), 4194304u);
    ASSERT_EQ(p.registry.size(), 2u);
    EXPECT_EQ(p.registry[0].name, "AttachParam");
    EXPECT_EQ(p.registry[0].number, 3u);
    EXPECT_EQ(p.registry[1].text, "zerval");
    EXPECT_FALSE(p.registry[1].number);
    // Without a video memory limit, the frame buffer is 16 MiB.
    EXPECT_EQ(sim::FramebufferBytes(ProfileFromJson("{}")), 16u << 20);
    // The registry's values come back as they were given.
    EXPECT_EQ(sim::ProfileToJson(ProfileFromJson(sim::ProfileToJson(p))), sim::ProfileToJson(p));

    EXPECT_NE(ErrorOf(R"({"framebufferBase": 4026531840})").find("'registersBase': the register range overlaps"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"registersBase": 3758100000})").find("'registersBase'"), std::string::npos);
    EXPECT_EQ(ErrorOf(R"({"registersBase": 3774873600})"), "");  // right after the 16 MiB frame buffer
    EXPECT_NE(ErrorOf(R"({"registersBytes": 0})").find("'registersBytes'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"registersBytes": 2097152})").find("'registersBytes'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"framebufferBase": 68719476736})").find("'framebufferBase'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"ioPortBase": 65535, "ioPortCount": 2})").find("'ioPortCount'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"registry": {"AttachParam": -1}})").find("'registry.AttachParam'"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"registry": [1]})").find("'registry'"), std::string::npos);
}

TEST(Profile, MonitorRateRangePixelRateAndModeList)
{
    const sim::Profile p = ProfileFromJson(R"({"monitorMinRefresh": 56, "monitorMaxRefresh": 75,
                                               "monitorMaxPixelRate": 80000000})");
    EXPECT_FALSE(Decide(p, Query{8, 640, 480, 48, 0, 0}).accepted);
    EXPECT_TRUE(Decide(p, Query{8, 640, 480, 56, 0, 0}).accepted);
    EXPECT_TRUE(Decide(p, Query{8, 640, 480, 48, 0, 2}).accepted);  // the controller's probe
    EXPECT_TRUE(Decide(p, Query{8, 1024, 768, 75, 0, 0}).accepted);   // 58,982,400 pixels/s
    EXPECT_FALSE(Decide(p, Query{8, 1280, 1024, 75, 0, 0}).accepted); // 98,304,000 pixels/s
    const sim::Profile listed = ProfileFromJson(R"({"monitorModes": ["1280x1024@60", "640x480@75"]})");
    EXPECT_TRUE(Decide(listed, Query{16, 1280, 1024, 60, 0, 0}).accepted);
    EXPECT_FALSE(Decide(listed, Query{16, 1280, 1024, 75, 0, 0}).accepted);
    EXPECT_FALSE(Decide(listed, Query{16, 640, 480, 60, 0, 0}).accepted);
    EXPECT_EQ(ProfileFromJson(sim::ProfileToJson(listed)).monitorModes, listed.monitorModes);
}

TEST(Profile, EmptyProfileAcceptsEverythingUnchanged)
{
    const sim::Profile p = ProfileFromJson("{}");
    const Query q{24, 1600, 1200, 200, 0, 0};
    const auto d = Decide(p, q);
    EXPECT_TRUE(d.accepted);
    EXPECT_EQ(d.answer, q);
}

TEST(Profile, MonitorLimitsOnlyUsabilityNotEnumeration)
{
    const sim::Profile p = sim::DefaultProfile();
    // 1600x1200 at 85 Hz: within the controller, beyond the monitor's line rate.
    EXPECT_TRUE(Decide(p, Query{8, 1600, 1200, 85, 0, 2}).accepted);
    EXPECT_FALSE(Decide(p, Query{8, 1600, 1200, 85, 0, 0}).accepted);
    EXPECT_TRUE(Decide(p, Query{8, 1600, 1200, 75, 0, 0}).accepted);
    // Rates the controller cannot generate, depths and sizes it lacks.
    EXPECT_FALSE(Decide(p, Query{8, 640, 480, 44, 0, 2}).accepted);
    EXPECT_FALSE(Decide(p, Query{12, 640, 480, 60, 0, 2}).accepted);
    EXPECT_FALSE(Decide(p, Query{8, 2048, 1536, 60, 0, 2}).accepted);
}

TEST(Profile, DefaultRefreshFlagAnswersTheDefaultRate)
{
    const sim::Profile p = sim::DefaultProfile();
    const auto d = Decide(p, Query{16, 800, 600, 1, 0, 0x80000000u});
    EXPECT_TRUE(d.accepted);
    EXPECT_EQ(d.answer.refresh, 60u);
}

TEST(Profile, TvAttributeMarksModesThatFitTheEncoder)
{
    const sim::Profile p = sim::DefaultProfile();
    EXPECT_EQ(Decide(p, Query{16, 800, 600, 60, 0, 2}).answer.attributes, 0x50000u);
    EXPECT_EQ(Decide(p, Query{16, 1280, 1024, 60, 0, 2}).answer.attributes, 0x10000u);
}

} // namespace
