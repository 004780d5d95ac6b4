#include "miniport.h"

#include <cstring>

#include "image_backend.h"
#include "images.h"
#include "miniport_calls.h"
#include "mode_text.h"
#include "number_text.h"
#include "tool_error.h"
#include "video_port.h"
#include "video_port_layout.h"
#include "zerval.h"

namespace {

// The most records a miniport's answer is read for.
constexpr uint32_t kMostModes = 65536;

// A reported or published record, as far as the modes go.
struct Mode {
    uint32_t index = 0;  // ModeIndex
    uint32_t width = 0, height = 0, bits = 0, planes = 0, hz = 0;
    bool same(const VIDEO_MODE_INFORMATION &r) const
    {
        return width == r.VisScreenWidth && height == r.VisScreenHeight && bits == r.BitsPerPlane && hz == r.Frequency;
    }
};

Mode ModeOf(const uint8_t *record)
{
    VIDEO_MODE_INFORMATION r;
    std::memcpy(&r, record, sizeof r);
    return Mode{r.ModeIndex, r.VisScreenWidth, r.VisScreenHeight, r.BitsPerPlane, r.NumberOfPlanes, r.Frequency};
}

std::string Shown(const Mode &m)
{
    return std::to_string(m.width) + "x" + std::to_string(m.height) + "x" + std::to_string(m.bits * (m.planes ? m.planes : 1)) +
           " @" + std::to_string(m.hz);
}

std::string Shown(const VIDEO_MODE_INFORMATION &r)
{
    return std::to_string(r.VisScreenWidth) + "x" + std::to_string(r.VisScreenHeight) + "x" +
           std::to_string(r.BitsPerPlane) + " @" + std::to_string(r.Frequency);
}

std::vector<uint8_t> U32s(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (const uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return bytes;
}

uint32_t U32At(const std::vector<uint8_t> &bytes, size_t at)
{
    uint32_t v = 0;
    if (at + 4 <= bytes.size())
        std::memcpy(&v, &bytes[at], 4);
    return v;
}

// "IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES: NO_ERROR (0), 8 bytes"
std::string AnswerLine(const std::string &request, const emu::RequestAnswer &a)
{
    std::string line = request + ": " + emu::VpStatusName(a.status);
    if (a.information != 0)
        line += ", " + std::to_string(a.information) + " bytes";
    return line;
}

// The reported modes beside the published ones: how many of each kind, and
// the first published record, in published order, that the miniport reports
// otherwise than zerval.sys marked it.
std::string Beside(const std::vector<Mode> &reported, const std::vector<VIDEO_MODE_INFORMATION> &published)
{
    size_t own = 0, usable = 0, unusable = 0, usablePublished = 0;
    for (const Mode &m : reported) {
        bool found = false, foundUsable = false;
        for (size_t i = ZERVAL_LEADING_RECORDS; i < published.size(); ++i)
            if (m.same(published[i])) {
                found = true;
                foundUsable = foundUsable || published[i].Length == ZERVAL_MODE_USABLE;
            }
        (found ? (foundUsable ? usable : unusable) : own) += 1;
    }
    std::string first;
    for (size_t i = ZERVAL_LEADING_RECORDS; i < published.size() && first.empty(); ++i) {
        const bool isUsable = published[i].Length == ZERVAL_MODE_USABLE;
        bool isReported = false;
        for (const Mode &m : reported)
            isReported = isReported || m.same(published[i]);
        if (isUsable && !isReported)
            first = "record " + std::to_string(i) + ", " + Shown(published[i]) + ", published as usable, is not reported";
        else if (!isUsable && isReported)
            first = "record " + std::to_string(i) + ", " + Shown(published[i]) + ", published as not usable, is reported";
    }
    for (size_t i = ZERVAL_LEADING_RECORDS; i < published.size(); ++i)
        usablePublished += published[i].Length == ZERVAL_MODE_USABLE;
    return "reported beside published: " + std::to_string(reported.size()) + " reported (" + std::to_string(own) +
           " the miniport's own, " + std::to_string(usable) + " published as usable, " + std::to_string(unusable) +
           " published as not usable); zerval.sys published " +
           std::to_string(published.size() > ZERVAL_LEADING_RECORDS ? published.size() - ZERVAL_LEADING_RECORDS : 0) +
           " (" + std::to_string(usablePublished) + " usable); first difference: " + (first.empty() ? "none" : first);
}

} // namespace

void RunMiniport(ModuleUnderTest &module, const Inputs &in, Tracer &tracer, std::vector<std::string> &lines)
{
    emu::Machine &m = *MachineOf(module);
    const std::string name = DisplayName(in);
    // A request, traced as the video port's call of HwVidStartIO.
    auto send = [&](uint32_t ioctl, const std::vector<uint8_t> &input, uint32_t outputBytes) {
        emu::RequestAnswer a;
        tracer.call("HwVidStartIO", " of " + name + " (" + emu::IoctlName(ioctl) + ")", [&] {
            a = emu::SendRequest(m, ioctl, input, outputBytes);
            return 1u;  // TRUE: a FALSE is the miniport's fault
        });
        return a;
    };

    const uint32_t found = tracer.call("HwVidFindAdapter", " of " + name, [&] { return emu::FindAdapter(m); });
    // What zerval.sys ran in it (the attach, where the miniport made it).
    lines.push_back(name + " HwVidFindAdapter: " + emu::VpStatusName(found) + ", " +
                    std::to_string(m.lastCall().instructions) + " instructions in zerval.sys");
    if (found != vp::kNoError)
        throw ToolError(in.display + ": HwVidFindAdapter answered " + emu::VpStatusName(found) +
                        ", so the video port has no adapter for it");
    if (!tracer.call("HwVidInitialize", " of " + name, [&] { return emu::InitializeAdapter(m); }))
        throw ToolError(in.display + ": HwVidInitialize answered FALSE, so the video port has no adapter for it");
    lines.push_back(name + " HwVidInitialize: TRUE");

    // The number of modes, then the modes.
    const emu::RequestAnswer count = send(vp::kQueryNumAvailModes, {}, vp::kNumModesSize);
    const uint32_t numModes = U32At(count.output, 0), recordBytes = U32At(count.output, 4);
    std::string line = AnswerLine(emu::IoctlName(vp::kQueryNumAvailModes), count);
    if (count.status != vp::kNoError || count.information < vp::kNumModesSize) {
        lines.push_back(line);
        return;
    }
    lines.push_back(line + ": " + std::to_string(numModes) + " modes of " + std::to_string(recordBytes) + " bytes");
    if (numModes > kMostModes || recordBytes < vp::kModeInformationSize || recordBytes > 4096) {
        lines.push_back("the modes are not asked for: " + std::to_string(numModes) + " records of " +
                        std::to_string(recordBytes) + " bytes is no VIDEO_MODE_INFORMATION array a display driver takes");
        return;
    }
    const emu::RequestAnswer all = send(vp::kQueryAvailModes, {}, numModes * recordBytes);
    line = AnswerLine(emu::IoctlName(vp::kQueryAvailModes), all);
    if (all.status != vp::kNoError) {
        lines.push_back(line);
        return;
    }
    std::vector<Mode> reported;
    for (uint32_t at = 0; at + recordBytes <= all.information; at += recordBytes)
        reported.push_back(ModeOf(&all.output[at]));
    lines.push_back(line + ": " + std::to_string(reported.size()) + " records");
    const std::vector<VIDEO_MODE_INFORMATION> published = module.published();
    lines.push_back(Beside(reported, published));
    if (reported.empty())
        return;

    // The mode to set: the one asked for, or the first reported one that
    // zerval.sys published as usable (the first reported where none is).
    std::vector<const Mode *> toSet;
    for (const Mode &r : reported) {
        if (in.displayEachMode) {
            toSet.push_back(&r);
        } else if (in.displayMode) {
            const text::ModeText &want = *in.displayMode;
            if (toSet.empty() && r.width == want.width && r.height == want.height &&
                r.bits * (r.planes ? r.planes : 1) == want.bitsPerPixel && r.hz == want.refresh)
                toSet.push_back(&r);
        } else if (toSet.empty()) {
            for (size_t i = ZERVAL_LEADING_RECORDS; i < published.size() && toSet.empty(); ++i)
                if (published[i].Length == ZERVAL_MODE_USABLE && r.same(published[i]))
                    toSet.push_back(&r);
        }
    }
    if (in.displayMode && toSet.empty())
        throw ToolError("--display-mode " + text::ToText(*in.displayMode) + ": " + name + " does not report that mode");
    if (toSet.empty())
        toSet.push_back(&reported.front());
    for (const Mode *mode : toSet) {
        const emu::RequestAnswer set = send(vp::kSetCurrentMode, U32s({mode->index}), 0);
        lines.push_back(AnswerLine(emu::IoctlName(vp::kSetCurrentMode) + " " + std::to_string(mode->index) + " (" +
                                     Shown(*mode) + ")",
                                 set));
        const emu::RequestAnswer current = send(vp::kQueryCurrentMode, {}, vp::kModeInformationSize);
        line = AnswerLine(emu::IoctlName(vp::kQueryCurrentMode), current);
        if (current.status == vp::kNoError && current.information >= vp::kModeInformationSize) {
            const Mode now = ModeOf(current.output.data());
            line += ": mode " + std::to_string(now.index) + ", " + Shown(now);
        }
        lines.push_back(line);
    }

    // The frame buffer, mapped for the display driver and given back; then a reset.
    const emu::RequestAnswer map = send(vp::kMapVideoMemory, U32s({0}), vp::kMemoryInformationSize);
    line = AnswerLine(emu::IoctlName(vp::kMapVideoMemory), map);
    const uint32_t mapped = U32At(map.output, 8);
    if (map.status == vp::kNoError && map.information >= vp::kMemoryInformationSize)
        line += ": frame buffer at " + text::Hex(mapped, 8) + ", " + std::to_string(U32At(map.output, 12)) + " bytes";
    lines.push_back(line);
    if (map.status == vp::kNoError)
        lines.push_back(AnswerLine(emu::IoctlName(vp::kUnmapVideoMemory),
                                 send(vp::kUnmapVideoMemory, U32s({U32At(map.output, 0)}), 0)));
    lines.push_back(AnswerLine(emu::IoctlName(vp::kResetDevice), send(vp::kResetDevice, {}, 0)));
}
