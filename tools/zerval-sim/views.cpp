#include "views.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <optional>

#include "images.h"
#include "inputs.h"
#include "mode_list_rules.h"
#include "mode_text.h"
#include "monitor.h"
#include "number_text.h"
#include "tool_error.h"
#include "zerval.h"

namespace {

// The profile as the header names it: its name and description, or that it
// has no name (a profile is named by its own name field only).
std::string ProfileShown(const Session &s)
{
    const sim::Profile &p = s.profile();
    std::string line = p.name.empty() ? "unnamed, from " + Shown(s.inputs().profile) : text::Printable(p.name);
    if (!p.description.empty())
        line += " - " + text::Printable(p.description);
    return line;
}

// The module or the host build, as the header and the JSON name it.
std::string BackendShown(const Session &s)
{
    return s.inputs().host ? "the host build" : text::Printable(ImageShown(s.inputs()));
}

// The first probe of the last attach, when the services driver accepted some
// and answered every one it accepted at another rate than asked: then that,
// not a refusal, is why those modes are missing from the list.
std::optional<sim::CallRecord> AllAcceptedAtAnotherRate(Session &s)
{
    std::optional<sim::CallRecord> first;
    for (const sim::CallRecord &c : ServicesCallsSince(s.module(), s.lastAttachStart())) {
        if (c.callee != sim::Callee::QueryMode || c.in.flags != ZERVAL_QUERY_ENUMERATE || !rules::Accepted(c))
            continue;
        if (rules::AnsweredAt(c, c.in.refresh))
            return std::nullopt;
        if (!first)
            first = c;
    }
    return first;
}

} // namespace

void PrintAttaches(const Session &s)
{
    for (const AttachOutcome &a : s.attaches()) {
        std::printf("%s\n", a.line.c_str());
        for (const std::string &l : a.miniport)
            std::printf("%s\n", l.c_str());
        for (const std::string &w : a.written)
            std::printf("%s\n", w.c_str());
    }
}

void PrintHeader(Session &s)
{
    const Inputs &in = s.inputs();
    // The profile, where it makes a difference: it is the simulated services
    // driver, and the adapter the video port hands a miniport.
    if (in.services.empty() || !in.display.empty())
        std::printf("profile: %s\n", ProfileShown(s).c_str());
    if (!in.services.empty())
        std::printf("services driver: %s\n", text::Printable(Shown(in.services)).c_str());
    if (!in.tv.empty())
        std::printf("TV driver: %s\n", text::Printable(Shown(in.tv)).c_str());
    if (!in.display.empty())
        std::printf("display driver: %s\n", text::Printable(in.display).c_str());
    std::printf("%s: %s\n", in.host ? "backend" : "image", BackendShown(s).c_str());
    PrintAttaches(s);
}

void PrintTable(Session &s)
{
    const auto records = s.module().published();
    const uint32_t count = s.module().u32("NumModesFromBIOSDLL");
    std::printf("%5s  %-11s %5s %5s  %-6s  %s\n", "index", "resolution", "depth", "Hz", "usable", "attributes");
    for (size_t i = ZERVAL_LEADING_RECORDS; i < records.size(); ++i) {
        const auto &r = records[i];
        const std::string res = std::to_string(r.VisScreenWidth) + "x" + std::to_string(r.VisScreenHeight);
        std::printf("%5zu  %-11s %5u %5u  %-6s  %s\n", i, res.c_str(), r.BitsPerPlane, r.Frequency,
                    r.Length == ZERVAL_MODE_USABLE ? "yes" : "no", text::Hex(r.DriverSpecificAttributeFlags, 8).c_str());
    }
    if (records.empty())
        std::printf("%u modes, no list published (ORVX_NUM_MODES 0)\n", count);
    else
        std::printf("%u modes published (ORVX_NUM_MODES %zu, records 0-%u left to the display driver)\n", count,
                    records.size(), ZERVAL_LEADING_RECORDS - 1);
    if (const auto first = AllAcceptedAtAnotherRate(s))
        std::printf("every mode the services driver accepted came back at another rate than asked, so none of them "
                    "was published; the first: asked %s, answered %s\n",
                    sim::DescribeQuery(first->in).c_str(), sim::DescribeQuery(first->out).c_str());
}

void PrintJson(Session &s)
{
    const Inputs &in = s.inputs();
    const auto records = s.module().published();
    nlohmann::json modes = nlohmann::json::array();
    for (size_t i = ZERVAL_LEADING_RECORDS; i < records.size(); ++i) {
        const auto &r = records[i];
        modes.push_back({{"index", i},
                         {"width", r.VisScreenWidth},
                         {"height", r.VisScreenHeight},
                         {"bitsPerPixel", r.BitsPerPlane},
                         {"frequency", r.Frequency},
                         {"usable", r.Length == ZERVAL_MODE_USABLE},
                         {"attributes", r.DriverSpecificAttributeFlags}});
    }
    nlohmann::json attaches = nlohmann::json::array();
    for (const AttachOutcome &a : s.attaches())
        attaches.push_back({{"returned", a.returned}, {"line", a.line}, {"written", a.written}});
    // Text from files is kept as it stands; the JSON writer escapes it (and
    // replaces bytes that are not UTF-8).
    const auto replace = nlohmann::json::error_handler_t::replace;
    nlohmann::json out = {{"profile", s.profile().name},
                          {"image", in.host ? nlohmann::json(nullptr) : nlohmann::json(ImageShown(in))},
                          {"backend", in.host ? "host" : "image"},
                          {"attaches", attaches},
                          {"lDllAttach", s.attached()},
                          {"NumModesFromBIOSDLL", s.module().u32("NumModesFromBIOSDLL")},
                          {"ORVX_NUM_MODES", records.size()},
                          {"modes", modes}};
    for (const auto &[key, path] : {std::pair<const char *, const std::string &>{"services", in.services},
                                    {"tv", in.tv},
                                    {"display", in.display}})
        if (!path.empty())
            out[key] = Shown(path);
    std::cout << out.dump(2, ' ', false, replace) << "\n";
}

void PrintAsked(Session &s, CallMark from)
{
    for (const sim::CallRecord &c : ServicesCallsSince(s.module(), from))
        std::printf("  services driver was asked: %s\n", sim::Describe(c).c_str());
}

void PrintEdid(const std::string &path, const edid::Edid &e)
{
    std::printf("%s: EDID %u.%u, %s%s%s\n", text::Printable(Shown(path)).c_str(), e.version, e.revision,
                e.digital ? "digital" : "analog", e.productName.empty() ? "" : ", ",
                text::Printable(e.productName).c_str());
    if (e.range)
        std::printf("range limits: %u-%u Hz vertical, %u-%u kHz horizontal, pixel clock up to %u MHz\n",
                    e.range->minVerticalHz, e.range->maxVerticalHz, e.range->minHorizontalKHz,
                    e.range->maxHorizontalKHz, e.range->maxPixelClockMHz);
    else
        std::printf("range limits: none\n");
    for (const edid::Timing &t : e.timings)
        std::printf("%-11s  %ux%u%s @ %u.%03u Hz\n", edid::SourceName(t.source), t.width, t.height,
                    t.interlaced ? "i" : "", t.refreshMilliHz / 1000, t.refreshMilliHz % 1000);
    sim::Profile p;
    try {
        edid::SetMonitor(e, p);
    } catch (const edid::BadEdid &err) {
        throw ToolError(Shown(path) + ": " + err.what());
    }
    if (e.range) {
        std::printf("monitor: %u-%u Hz, up to %u lines/s and %llu pixels/s (visible)\n", p.monitorMinRefresh,
                    p.monitorMaxRefresh, p.monitorMaxLineRate, static_cast<unsigned long long>(p.monitorMaxPixelRate));
    } else {
        std::string modes;
        for (const text::MonitorMode &m : p.monitorModes)
            modes += (modes.empty() ? "" : " ") + text::ToText(m);
        std::printf("monitor: only %s\n", modes.c_str());
    }
}
