// zerval-sim: loads zerval.sys into the emulator, attaches it to a simulated
// adapter, and shows what a display driver would see.  Every error is one
// line on stderr and exit status 1; what the module answers, refusals
// included, is output.
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "build_products.h"
#include "edid.h"
#include "image_backend.h"
#include "image_check.h"
#include "matrix.h"
#include "monitor.h"
#include "options.h"
#include "profile.h"
#include "roles.h"
#include "trace.h"

namespace {

// An error about one file or argument: the text names it.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Die(const std::string &message)
{
    std::cerr << "zerval-sim: error: " << message << "\n";
    std::exit(1);
}

void Warn(const std::string &message) { std::cerr << "zerval-sim: warning: " << message << "\n"; }

std::string Hex32(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

// A file's bytes, or a ToolError naming the file and why.
std::string ReadFile(const std::string &path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw ToolError(path + ": is a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ToolError(path + ": cannot read it (" + std::strerror(errno) + ")");
    std::stringstream s;
    s << in.rdbuf();
    if (in.bad())
        throw ToolError(path + ": cannot read it");
    return s.str();
}

edid::Edid ReadEdid(const std::string &path)
{
    const std::string contents = ReadFile(path);
    try {
        return edid::Decode(edid::BytesOf(contents));
    } catch (const edid::BadEdid &e) {
        throw ToolError(path + ": " + e.what());
    }
}

sim::Profile LoadProfile(const Options &o)
{
    sim::Profile p = sim::DefaultProfile();
    std::string edidPath;
    if (!o.profile.empty()) {
        try {
            p = sim::ProfileFromJson(ReadFile(o.profile));
        } catch (const ToolError &) {
            throw;
        } catch (const std::exception &e) {
            throw ToolError(o.profile + ": " + e.what());
        }
        if (!p.edid.empty()) {
            const std::filesystem::path named(p.edid);
            edidPath = named.is_absolute() ? named.string()
                                           : (std::filesystem::path(o.profile).parent_path() / named).string();
        }
    }
    if (!o.edid.empty())
        edidPath = o.edid;
    if (!edidPath.empty()) {
        try {
            edid::SetMonitor(ReadEdid(edidPath), p);
        } catch (const edid::BadEdid &e) {
            throw ToolError(edidPath + ": " + e.what());
        }
        p.edid.clear();  // the monitor fields now say what it said
        p.description += (p.description.empty() ? "" : "; ") + std::string("monitor from ") + edidPath;
    }
    if (o.initFails)
        p.initSucceeds = false;
    for (const std::string &name : o.emptyHooks) {
        bool known = false;
        for (int h = 0; h < sim::kHookCount - 1; ++h) {
            if (name == sim::HookName(static_cast<sim::Hook>(h))) {
                p.hooks &= static_cast<uint8_t>(~sim::HookBit(static_cast<sim::Hook>(h)));
                known = true;
            }
        }
        if (!known)
            throw ToolError("--empty-hook: no hook '" + name + "' (pfnInit, pfnQueryMode, pfnSetMode, pfnPassThrough, "
                            "pfnFunction, pfnGetFreeFramebufferSize, pfnSetInitialValue)");
    }
    return p;
}

// The image as the emulator will load it, checked before anything is mapped.
pe::Image LoadImage(const std::string &path)
{
    const std::string bytes = ReadFile(path);
    try {
        pe::Image image = pe::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        for (const std::string &w : CheckImage(image))
            Warn(path + ": " + w);
        return image;
    } catch (const pe::BadImage &e) {
        throw ToolError(path + ": " + e.what());
    } catch (const emu::Error &e) {
        throw ToolError(path + ": " + e.what());
    }
}

// A neighbour image: read, parsed, and held to the role it was given (what
// it does then is its own business).
emu::Neighbour LoadNeighbour(Role role, const std::string &module, const std::string &path, const pe::Image &zerval)
{
    const std::string bytes = ReadFile(path);
    try {
        emu::Neighbour n{module, pe::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()))};
        if (const std::string mismatch = RoleMismatch(role, n.image, zerval); !mismatch.empty())
            throw ToolError(path + ": " + mismatch);
        return n;
    } catch (const pe::BadImage &e) {
        throw ToolError(path + ": " + e.what());
    }
}

std::string FileName(const std::string &path) { return std::filesystem::path(path).filename().string(); }

// The path the options gave for each role, empty where none.
const std::string &PathFor(const Options &o, Role role)
{
    return role == Role::Services ? o.services : role == Role::Tv ? o.tv : o.display;
}

// The module name a neighbour given for a role is bound by.
std::string ModuleFor(const Options &o, Role role)
{
    const RoleInfo &r = InfoOf(role);
    return r.module != nullptr ? r.module : FileName(PathFor(o, role));
}

// The real images the options name, under the module names they are bound by.
std::vector<emu::Neighbour> Neighbours(const Options &o, const pe::Image &zerval)
{
    std::vector<emu::Neighbour> out;
    for (const RoleInfo &r : kRoles)
        if (!PathFor(o, r.role).empty())
            out.push_back(LoadNeighbour(r.role, ModuleFor(o, r.role), PathFor(o, r.role), zerval));
    return out;
}

// A fault of a neighbour image, as one line that names its file and role.
ToolError NeighbourFault(const Options &o, const emu::Fault &f)
{
    for (const RoleInfo &r : kRoles)
        if (!PathFor(o, r.role).empty() && emu::SameModule(ModuleFor(o, r.role), f.culprit))
            return ToolError(PathFor(o, r.role) + ", the " + r.what + ", broke the rules, not zerval.sys: " + f.what());
    return ToolError(f.culprit + " broke the rules, not zerval.sys: " + f.what());
}

// The machine's crossings from `from` on (none for the host build).
size_t CrossingCount(ModuleUnderTest &m)
{
    const emu::Machine *machine = MachineOf(m);
    return machine != nullptr ? machine->crossings().size() : 0;
}

std::vector<emu::Crossing> CrossingsSince(ModuleUnderTest &m, size_t from)
{
    const emu::Machine *machine = MachineOf(m);
    if (machine == nullptr)
        return {};
    return std::vector<emu::Crossing>(machine->crossings().begin() + static_cast<std::ptrdiff_t>(from),
                                      machine->crossings().end());
}

// Why a real services driver's attach failed, from the calls into it: the
// required hooks it left empty in Attach, or pfnInit's FALSE.
std::string ServicesRefusal(const std::vector<emu::Crossing> &calls, const std::string &file)
{
    for (auto c = calls.rbegin(); c != calls.rend(); ++c) {
        if (c->callee != InfoOf(Role::Services).module || !c->returned)
            continue;
        if (c->entry == sim::HookName(sim::Hook::Init) && static_cast<uint8_t>(c->result) == 0)
            return file + "'s pfnInit answered FALSE";
        if (c->entry == emu::Machine::kServicesAttach && c->tableAfter) {
            std::string empty;
            for (const sim::Hook h : sim::kRequiredHooks)
                if (!c->tableAfter->has(h))
                    empty += (empty.empty() ? "" : ", ") + std::string(sim::HookName(h));
            if (!empty.empty())
                return file + " left " + empty + " empty after Attach";
        }
    }
    return file + " left pfnInit, pfnQueryMode or pfnSetMode empty, or pfnInit answered FALSE";
}

void EditCatalogue(ModuleUnderTest &m, const CatalogueEdits &e)
{
    for (const auto &[index, mode] : e.resizedRows) {
        ModeTableEntry row = m.row(index);
        row.Width = static_cast<uint16_t>(mode.width);
        row.Height = static_cast<uint16_t>(mode.height);
        row.BitsPerPixel = static_cast<uint16_t>(mode.bitsPerPixel);
        m.setRow(index, row);
    }
    for (uint32_t index : e.disabledRows) {
        ModeTableEntry row = m.row(index);
        row.Disabled = 1;
        m.setRow(index, row);
    }
    for (size_t i = 0; i < e.rates.size(); ++i)
        m.setRate(static_cast<uint32_t>(i), e.rates[i]);
    if (!e.rates.empty())
        m.setU32("freqTableSize", static_cast<uint32_t>(e.rates.size()));
    if (e.modeTableSize)
        m.setU32("modeTableSize", *e.modeTableSize);
    if (e.freqTableSize)
        m.setU32("freqTableSize", *e.freqTableSize);
}

// One attach as the display driver saw it.
struct AttachOutcome {
    bool returned = false;
    std::string line;  // "lDllAttach: ..."
    std::vector<std::string> written;  // the files a display driver wrote, one line each
};

std::string Figures(ModuleUnderTest &m)
{
    const emu::Machine *machine = MachineOf(m);
    if (machine == nullptr)
        return "";
    const emu::CallStats &s = machine->lastCall();
    return ", " + std::to_string(s.instructions) + " instructions in the image, " + std::to_string(s.hookCalls) +
           " calls out, deepest stack " + std::to_string(s.stackBytes) + " bytes";
}

// The files the display driver wrote through the simulated kernel, one line
// each, saved into the --save-written folder under the last part of their
// names.
std::vector<std::string> WrittenFiles(ModuleUnderTest &m, const Options &o)
{
    std::vector<std::string> lines;
    std::set<std::string> saved;
    for (const emu::KernelFile &f : MachineOf(m)->files().files()) {
        std::string line = FileName(o.display) + " wrote " + f.path + " (" + std::to_string(f.bytes.size()) + " bytes)";
        if (!o.saveWritten.empty()) {
            const std::string base = f.path.substr(f.path.find_last_of("\\/") + 1);
            if (base.empty() || base == "." || base == ".." || !saved.insert(base).second)
                throw ToolError(o.display + ": wrote " + f.path + ", which cannot be saved as '" + base + "' in " +
                                o.saveWritten + (base.empty() || base == "." || base == ".." ? "" : " (twice)"));
            const std::string target = (std::filesystem::path(o.saveWritten) / base).string();
            std::ofstream out(target, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char *>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
            if (!out)
                throw ToolError(target + ": cannot write it (" + std::strerror(errno) + ")");
            line += ", saved as " + target;
        }
        lines.push_back(line);
    }
    return lines;
}

// The display driver's entry, which attaches the module itself.  What it
// wrote is shown (and saved) also when it faulted or failed.
AttachOutcome StartDisplayDriver(ModuleUnderTest &m, Tracer &t, const Options &o)
{
    const std::string name = FileName(o.display);
    std::error_code ec;
    if (!o.saveWritten.empty() && !std::filesystem::is_directory(o.saveWritten, ec))
        throw ToolError("--save-written " + o.saveWritten + ": no such folder");
    auto showWritten = [&] {
        for (const std::string &line : WrittenFiles(m, o))
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    const size_t from = CrossingCount(m);
    uint32_t status = 0;
    try {
        status = t.call("DriverEntry", " of " + name + " (NULL, NULL)",
                        [&] { return MachineOf(m)->call(name, "DriverEntry", {0, 0}); });
    } catch (const std::exception &) {
        showWritten();
        throw;
    }
    if (status != 0) {
        showWritten();
        throw ToolError(o.display + ": its DriverEntry returned " + Hex32(status));
    }
    const auto calls = CrossingsSince(m, from);
    if (std::none_of(calls.begin(), calls.end(), [](const emu::Crossing &c) {
            return c.callee == "zerval.sys" && c.entry == kAttachExport;
        })) {
        showWritten();
        throw ToolError(o.display + ": its DriverEntry returned 0 without calling lDllAttach, so zerval.sys was "
                                    "never attached and there is no mode list to show");
    }
    return AttachOutcome{true, name + " DriverEntry: 0" + Figures(m), WrittenFiles(m, o)};
}

AttachOutcome Attach(ModuleUnderTest &m, Tracer &t, const Options &o, const sim::Profile &p, uint32_t number,
                     uint32_t of)
{
    const size_t from = m.log.calls().size();
    const size_t crossingsFrom = CrossingCount(m);
    const size_t poolFrom = m.pool.allocations().size();
    uint8_t resultByte = 0xFF;
    const uint8_t r = t.call("lDllAttach", "(0, 0, 0, " + pe::Hex(o.attachParam) + ", &result)",
                             [&] { return m.lDllAttach(0, 0, 0, o.attachParam, &resultByte); });
    AttachOutcome out;
    out.returned = r != 0;
    std::string line = "lDllAttach";
    if (of > 1)
        line += " (" + std::to_string(number) + " of " + std::to_string(of) + ")";
    line += out.returned ? ": TRUE" : ": FALSE";
    line += Figures(m);
    std::vector<std::string> notes;
    if (!out.returned && !o.services.empty()) {
        notes.push_back(ServicesRefusal(CrossingsSince(m, crossingsFrom), FileName(o.services)));
        notes.push_back("hook table wiped, result byte not written, the earlier list stays");
    } else if (!out.returned) {
        bool initCalled = false;
        for (size_t i = from; i < m.log.calls().size(); ++i)
            initCalled = initCalled || m.log.calls()[i].callee == sim::Callee::Init;
        notes.push_back(initCalled ? "pfnInit answered FALSE" : "refused before calling pfnInit");
        notes.push_back("hook table wiped, result byte not written, the earlier list stays");
    }
    std::string empty;
    for (int h = 0; h < sim::kHookCount - 1 && o.services.empty(); ++h)
        if (!(p.hooks & sim::HookBit(static_cast<sim::Hook>(h))))
            empty += (empty.empty() ? "" : ", ") + std::string(sim::HookName(static_cast<sim::Hook>(h)));
    if (!empty.empty())
        notes.push_back("the services driver left " + empty + " empty");
    const auto &allocations = m.pool.allocations();
    for (size_t i = poolFrom; i < allocations.size(); ++i)
        if (allocations[i].address == 0)
            notes.push_back("pool request " + std::to_string(i + 1) + " (" + std::to_string(allocations[i].size) +
                            " bytes) refused");
    for (size_t i = 0; i < notes.size(); ++i)
        line += (i == 0 ? " (" : "; ") + notes[i];
    if (!notes.empty())
        line += ")";
    out.line = line;
    return out;
}

void PrintTable(const std::vector<VIDEO_MODE_INFORMATION> &records, uint32_t count)
{
    std::printf("%5s  %-11s %5s %5s  %-6s  %s\n", "index", "resolution", "depth", "Hz", "usable", "attributes");
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        char res[24];
        std::snprintf(res, sizeof res, "%ux%u", r.VisScreenWidth, r.VisScreenHeight);
        std::printf("%5u  %-11s %5u %5u  %-6s  %s\n", i, res, r.BitsPerPlane, r.Frequency,
                    r.Length == ZERVAL_MODE_USABLE ? "yes" : "no", Hex32(r.DriverSpecificAttributeFlags).c_str());
    }
    if (records.empty())
        std::printf("%u modes, no list published (ORVX_NUM_MODES 0)\n", count);
    else
        std::printf("%u modes published (ORVX_NUM_MODES %zu, records 0-2 left to the display driver)\n", count,
                    records.size());
}

void PrintJson(const std::vector<VIDEO_MODE_INFORMATION> &records, uint32_t count, const sim::Profile &p, bool attached)
{
    nlohmann::json modes = nlohmann::json::array();
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        modes.push_back({{"index", i},
                         {"width", r.VisScreenWidth},
                         {"height", r.VisScreenHeight},
                         {"bitsPerPixel", r.BitsPerPlane},
                         {"frequency", r.Frequency},
                         {"usable", r.Length == ZERVAL_MODE_USABLE},
                         {"attributes", r.DriverSpecificAttributeFlags}});
    }
    nlohmann::json out = {{"profile", p.name},
                          {"lDllAttach", attached},
                          {"NumModesFromBIOSDLL", count},
                          {"ORVX_NUM_MODES", records.size()},
                          {"modes", modes}};
    std::cout << out.dump(2) << "\n";
}

void PrintEdid(const std::string &path, const edid::Edid &e)
{
    std::printf("%s: EDID %u.%u, %s%s%s\n", path.c_str(), e.version, e.revision, e.digital ? "digital" : "analog",
                e.productName.empty() ? "" : ", ", e.productName.c_str());
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
        throw ToolError(path + ": " + err.what());
    }
    if (e.range)
        std::printf("monitor: %u-%u Hz, up to %u lines/s and %llu pixels/s (visible)\n", p.monitorMinRefresh,
                    p.monitorMaxRefresh, p.monitorMaxLineRate, static_cast<unsigned long long>(p.monitorMaxPixelRate));
    else {
        std::string modes;
        for (const sim::MonitorMode &m : p.monitorModes)
            modes += (modes.empty() ? "" : " ") + sim::ToText(m);
        std::printf("monitor: only %s\n", modes.c_str());
    }
}

const VIDEO_MODE_INFORMATION *FindMode(const std::vector<VIDEO_MODE_INFORMATION> &records, const sim::ModeText &s)
{
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        if (r.VisScreenWidth == s.width && r.VisScreenHeight == s.height && r.BitsPerPlane == s.bitsPerPixel &&
            r.Frequency == s.refresh)
            return &r;
    }
    return nullptr;
}

// The image the build made, next to this program's build tree (or named by
// ZERVAL_IMAGE).
std::string BuiltImage()
{
    try {
        return products::Existing(products::kImageGnu, "--image");
    } catch (const products::Missing &e) {
        throw ToolError(e.what());
    }
}

// The image as the user gave it, or the built one relative to the working
// folder where it lies below it.
std::string ImageShown(const Options &o)
{
    if (!o.image.empty())
        return o.image;
    const std::string built = BuiltImage();
    std::error_code ec;
    const auto rel = std::filesystem::proximate(built, ec);
    return ec || rel.string().rfind("..", 0) == 0 ? built : rel.string();
}

// Attaches as the options say and runs the command against the module.
int Drive(ModuleUnderTest &module, const Options &o, const sim::Profile &profile)
{
    ModuleUnderTest *const m = &module;
    m->adapter.profile = profile;
    Tracer t(*m, o.trace, o.traceEntries);

    t.call("DriverEntry", "(NULL, NULL)", [&] { return m->DriverEntry(); });
    EditCatalogue(*m, o.catalogue);
    if (o.refusePoolRequest != 0)
        m->pool.failRequest(o.refusePoolRequest);
    std::vector<AttachOutcome> attaches;
    size_t lastAttachStart = 0;
    if (!o.display.empty())
        attaches.push_back(StartDisplayDriver(*m, t, o));
    for (uint32_t i = 1; i <= o.attaches && o.display.empty(); ++i) {
        lastAttachStart = m->log.calls().size();
        attaches.push_back(Attach(*m, t, o, profile, i, o.attaches));
    }
    const bool attached = attaches.back().returned;
    const auto records = m->published();
    const uint32_t count = m->u32("NumModesFromBIOSDLL");
    auto printAttaches = [&] {
        for (const AttachOutcome &a : attaches) {
            std::printf("%s\n", a.line.c_str());
            for (const std::string &w : a.written)
                std::printf("%s\n", w.c_str());
        }
    };

    switch (o.command) {
    case Command::Validate:
    case Command::Set: {
        if (!attached)
            printAttaches();
        VIDEO_MODE_INFORMATION record{};
        if (o.unlisted) {
            record.Length = sizeof(VIDEO_MODE_INFORMATION);
            record.VisScreenWidth = o.mode.width;
            record.VisScreenHeight = o.mode.height;
            record.BitsPerPlane = o.mode.bitsPerPixel;
            record.Frequency = o.mode.refresh;
            record.DriverSpecificAttributeFlags = o.attributes;
        } else if (const VIDEO_MODE_INFORMATION *found = FindMode(records, o.mode)) {
            record = *found;
        } else {
            throw ToolError("mode " + o.modeText + " is not in the published list (see the list, or add --unlisted)");
        }
        const size_t from = m->log.calls().size();
        if (o.command == Command::Validate) {
            t.call("vValidateMode", "(&record, " + Hex32(o.flags) + ")", [&] {
                m->vValidateMode(&record, o.flags);
                return record.Length;
            });
            std::printf("%s: Length %u (%s)\n", o.modeText.c_str(), record.Length,
                        record.Length == ZERVAL_MODE_USABLE ? "usable" : "not usable");
        } else {
            if (o.option > 0xFF)
                Warn("--option " + pe::Hex(o.option) + ": SetMode passes on only the low byte, " + pe::Hex(o.option & 0xFF));
            const uint32_t r = t.call("SetMode", "(&record, " + pe::Hex(o.option) + ")", [&] { return m->SetMode(&record, o.option); });
            std::printf("%s: SetMode returned %u%s\n", o.modeText.c_str(), r, r == 0 ? "" : " (ERROR_INVALID_PARAMETER)");
        }
        const auto &calls = m->log.calls();
        for (size_t i = from; i < calls.size(); ++i)
            if (const auto &c = calls[i]; c.callee == sim::Callee::QueryMode || c.callee == sim::Callee::SetMode)
                std::printf("  services driver was asked: %s\n", sim::Describe(c).c_str());
        return 0;
    }
    case Command::Function: {
        const uint32_t r = t.call("Orvalen_Function", "(" + Hex32(o.values[0]) + ")",
                                  [&] { return m->Orvalen_Function(o.values[0]); });
        std::printf("Orvalen_Function(%s) = %u\n", Hex32(o.values[0]).c_str(), r);
        return 0;
    }
    case Command::PassThrough: {
        const std::string args = "(" + Hex32(o.values[0]) + ", " + Hex32(o.values[1]) + ", " + Hex32(o.values[2]) + ")";
        const uint32_t r = t.call("MeltoBiosDll", args, [&] { return m->MeltoBiosDll(o.values[0], o.values[1], o.values[2]); });
        std::printf("MeltoBiosDll%s = %u\n", args.c_str(), r);
        return 0;
    }
    case Command::FreeFramebuffer:
        std::printf("GetFreeFramebufferSize() = %u\n",
                    t.call("GetFreeFramebufferSize", "()", [&] { return m->GetFreeFramebufferSize(); }));
        return 0;
    case Command::InitialValue:
        std::printf("BiosDllSetInitialValue() = %u\n",
                    t.call("BiosDllSetInitialValue", "()", [&] { return m->BiosDllSetInitialValue(); }));
        return 0;
    default: break;
    }

    if (o.json) {
        PrintJson(records, count, profile, attached);
        return 0;
    }
    if (o.services.empty())
        std::printf("profile: %s - %s\n", profile.name.c_str(), profile.description.c_str());
    else
        std::printf("services driver: %s\n", o.services.c_str());
    if (!o.tv.empty())
        std::printf("TV driver: %s\n", o.tv.c_str());
    if (!o.display.empty())
        std::printf("display driver: %s\n", o.display.c_str());
    std::printf("%s: %s\n", o.host ? "backend" : "image", o.host ? "the host build" : ImageShown(o).c_str());
    printAttaches();
    if (o.matrix)
        PrintMatrix(*m, lastAttachStart);
    else
        PrintTable(records, count);
    return 0;
}

int Run(const Options &o)
{
    if (o.command == Command::Edid) {
        PrintEdid(o.edidFile, ReadEdid(o.edidFile));
        return 0;
    }
    const sim::Profile profile = LoadProfile(o);
    if (o.command == Command::Profile) {
        std::cout << sim::ProfileToJson(profile) << "\n";
        return 0;
    }

    // The module's image is read and checked before the neighbours' (the
    // machine then keeps its own copy).
    const pe::Image image = o.host ? pe::Image{} : LoadImage(o.image.empty() ? BuiltImage() : o.image);
    std::unique_ptr<ModuleUnderTest> m;
    try {
        m = o.host ? MakeModule(Backend::Host) : MakeImageModule(image, Neighbours(o, image));
        if (o.irql)
            RunAt(*m, *o.irql);
    } catch (const emu::Error &e) {
        throw ToolError(ImageShown(o) + ": " + e.what());
    }
    int status = 0;
    try {
        status = Drive(*m, o, profile);
    } catch (const emu::Fault &f) {
        if (f.culprit.empty())
            throw;  // the module's own
        throw NeighbourFault(o, f);
    }
    // A record handed to a hook outside the module's frames (the host build
    // records it; the emulator stops the image at once).
    if (!m->log.breaches().empty())
        throw ToolError("the module broke its contract with the services driver: " + m->log.breaches().front());
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return Run(ParseOptions(argc, argv));
    } catch (const UsageError &e) {
        Die(e.what());
    } catch (const ToolError &e) {
        Die(e.what());
    } catch (const emu::Error &e) {
        Die(std::string("the emulator failed: ") + e.what());
    } catch (const std::exception &e) {
        // Faults the emulator or the pool found in the module.
        Die(std::string("the module faulted: ") + e.what());
    }
}
