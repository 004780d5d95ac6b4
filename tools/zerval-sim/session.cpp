#include "session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "error.h"
#include "image_backend.h"
#include "images.h"
#include "inputs.h"
#include "miniport.h"
#include "number_text.h"
#include "roles.h"
#include "tool_error.h"

namespace {

// The hooks of `hooks` (a mask) as "pfnQueryMode, pfnSetMode".
std::string HookNames(uint8_t hooks)
{
    std::string names;
    for (int h = 0; h < sim::kHookCount - 1; ++h)
        if (hooks & sim::HookBit(static_cast<sim::Hook>(h)))
            names += (names.empty() ? "" : ", ") + std::string(sim::HookName(static_cast<sim::Hook>(h)));
    return names;
}

std::unique_ptr<ModuleUnderTest> MakeModule(const Inputs &inputs, bool traced)
{
    if (inputs.host)
        return MakeModule(Backend::Host);
    // zerval.sys is read before the neighbours; the machine checks that it
    // can be loaded, and keeps its own copy.
    const std::string path = ImagePath(inputs);
    const pe::Image image = LoadImage(path);
    std::vector<emu::Neighbour> neighbours = LoadNeighbours(inputs, image);
    std::unique_ptr<ModuleUnderTest> module;
    try {
        module = MakeImageModule(image, std::move(neighbours));
        if (inputs.irql)
            RunAt(*module, *inputs.irql);
    } catch (const emu::ImportRefused &e) {
        throw ToolError(PathOfModule(inputs, e.importer) + ": " + e.what());
    } catch (const emu::Error &e) {
        throw ToolError(ImageShown(inputs) + ": " + e.what());
    }
    // What the images print goes to stderr as they print it (with --trace,
    // in the trace, in its place among the calls).
    if (emu::Machine *machine = MachineOf(*module); machine != nullptr && !traced)
        machine->setDebugSink([](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (const std::string warning = ChecksumWarning(path, image); !warning.empty())
        Warn(warning);
    return module;
}

// The machine's crossings (none for the host build).
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
            uint8_t empty = 0;
            for (const sim::Hook h : sim::kRequiredHooks)
                if (!c->tableAfter->has(h))
                    empty |= sim::HookBit(h);
            if (empty != 0)
                return file + " left " + HookNames(empty) + " empty after Attach";
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



} // namespace

std::string ImageFigures(ModuleUnderTest &m)
{
    const emu::Machine *machine = MachineOf(m);
    if (machine == nullptr)
        return "";
    const emu::CallStats &s = machine->lastCall();
    return ", " + std::to_string(s.instructions) + " instructions in the image, " + std::to_string(s.hookCalls) +
           " calls out, deepest stack " + std::to_string(s.stackBytes) + " bytes";
}

sim::Profile ScenarioProfile(const Options &o)
{
    sim::Profile p = LoadProfile(o.inputs);
    if (o.scenario.initFails)
        p.initSucceeds = false;
    p.hooks &= static_cast<uint8_t>(~o.scenario.emptiedHooks);
    return p;
}

Session::Session(const Options &options) : options_(options), profile_(ScenarioProfile(options))
{
    if (options.gdbPort)
        debugger_ = std::make_unique<Debugger>(*options.gdbPort);
    module_ = MakeModule(options.inputs, options.trace.on);
    module_->adapter.profile = profile_;
    if (debugger_)
        debugger_->attach(*MachineOf(*module_), options.inputs);
    tracer_ = std::make_unique<Tracer>(*module_, options.trace.on, options.trace.entries);
    if (!options.coverage.empty())
        coverage_ = std::make_unique<Coverage>(*MachineOf(*module_));
    // What ran up to a fault is covered too.
    try {
        start();
    } catch (...) {
        writeCoverageAfterAll();
        throw;
    }
}

void Session::writeCoverage() const
{
    if (coverage_ != nullptr)
        coverage_->write(options_.coverage);
}

void Session::writeCoverageAfterAll() const
{
    try {
        writeCoverage();
    } catch (const std::exception &e) {
        Warn(e.what());  // the run's own error is the one line
    }
}

Session::~Session() = default;

void Session::end(int status)
{
    if (debugger_)
        debugger_->finish(status);
}

void Session::start()
{
    ModuleUnderTest &m = *module_;
    tracer_->call("DriverEntry", " of zerval.sys (NULL, NULL)", [&] { return m.DriverEntry(); });
    EditCatalogue(m, options_.scenario.catalogue);
    if (options_.scenario.refusePoolRequest != 0)
        m.pool.failRequest(options_.scenario.refusePoolRequest);
    if (!options_.inputs.display.empty()) {
        attaches_.push_back(startDisplayDriver());
        return;
    }
    for (uint32_t i = 1; i <= options_.scenario.attaches; ++i) {
        lastAttachStart_ = MarkCalls(m);
        attaches_.push_back(attach(i));
    }
}

AttachOutcome Session::attach(uint32_t number)
{
    ModuleUnderTest &m = *module_;
    const Scenario &s = options_.scenario;
    const Inputs &in = options_.inputs;
    const size_t from = m.log.calls().size();
    const size_t crossingsFrom = CrossingCount(m);
    const size_t poolFrom = m.pool.allocations().size();
    uint8_t resultByte = 0xFF;
    const uint8_t r = tracer_->call("lDllAttach", "(0, 0, 0, " + text::Hex(s.attachParam) + ", &result)",
                                    [&] { return m.lDllAttach(0, 0, 0, s.attachParam, &resultByte); });
    AttachOutcome out;
    out.returned = r != 0;
    std::string line = "lDllAttach";
    if (s.attaches > 1)
        line += " (" + std::to_string(number) + " of " + std::to_string(s.attaches) + ")";
    line += out.returned ? ": TRUE" : ": FALSE";
    line += ImageFigures(m);
    std::vector<std::string> notes;
    if (!out.returned) {
        bool initCalled = false;
        for (size_t i = from; i < m.log.calls().size(); ++i)
            initCalled = initCalled || m.log.calls()[i].callee == sim::Callee::Init;
        const std::string services =
            in.services == "-" ? Shown(in.services) : std::filesystem::path(in.services).filename().string();
        notes.push_back(!in.services.empty() ? ServicesRefusal(CrossingsSince(m, crossingsFrom), services)
                        : initCalled         ? "pfnInit answered FALSE"
                                             : "refused before calling pfnInit");
        notes.push_back("hook table wiped, result byte not written, the earlier list stays");
    }
    const uint8_t emptied = in.services.empty() ? static_cast<uint8_t>(sim::kAllServiceHooks & ~profile_.hooks) : 0;
    if (emptied != 0)
        notes.push_back("the services driver left " + HookNames(emptied) + " empty");
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

// The files the display driver wrote through the simulated kernel, one line
// each, saved into the --save-written folder under the last part of their
// names.
std::vector<std::string> Session::writtenFiles()
{
    const Inputs &in = options_.inputs;
    std::vector<std::string> lines;
    std::set<std::string> saved;
    for (const emu::KernelFile &f : MachineOf(*module_)->files().files()) {
        std::string line = DisplayName(in) + " wrote " + f.path + " (" + std::to_string(f.bytes.size()) + " bytes)";
        if (!in.saveWritten.empty()) {
            const std::string base = f.path.substr(f.path.find_last_of("\\/") + 1);
            const bool unnamed = base.empty() || base == "." || base == "..";
            if (unnamed || !saved.insert(base).second)
                throw ToolError(in.display + ": wrote " + f.path + ", which cannot be saved as '" + base + "' in " +
                                in.saveWritten + (unnamed ? "" : " (twice)"));
            const std::string target = (std::filesystem::path(in.saveWritten) / base).string();
            std::ofstream out(target, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char *>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
            out.close();
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
AttachOutcome Session::startDisplayDriver()
{
    const Inputs &in = options_.inputs;
    const std::string name = DisplayName(in);
    std::error_code ec;
    if (!in.saveWritten.empty() && !std::filesystem::is_directory(in.saveWritten, ec))
        throw ToolError("--save-written " + in.saveWritten + ": no such folder");
    auto showWritten = [&] {
        for (const std::string &line : writtenFiles())
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    const size_t from = CrossingCount(*module_);
    emu::Machine &machine = *MachineOf(*module_);
    uint32_t status = 0;
    std::vector<std::string> miniport;
    try {
        status = tracer_->call("DriverEntry", " of " + name + " (NULL, NULL)",
                               [&] { return machine.call(name, "DriverEntry", {0, 0}); });
        if (!machine.videoPort().refusal.empty())
            throw ToolError(in.display + ": " + machine.videoPort().refusal);
        if (status == 0 && machine.videoPort().miniport)
            RunMiniport(*module_, in, *tracer_, miniport);
    } catch (const std::exception &) {
        // What the run got to, then what was written.
        for (const std::string &line : miniport)
            std::printf("%s\n", line.c_str());
        showWritten();
        throw;
    }
    if (status != 0) {
        showWritten();
        throw ToolError(in.display + ": its DriverEntry returned " + text::Hex(status, 8));
    }
    const auto calls = CrossingsSince(*module_, from);
    if (std::none_of(calls.begin(), calls.end(), [](const emu::Crossing &c) {
            return c.callee == "zerval.sys" && c.entry == kAttachExport;
        })) {
        showWritten();
        throw ToolError(in.display + (machine.videoPort().miniport
                                          ? ": its miniport never called lDllAttach (in HwVidFindAdapter, say), so "
                                          : ": its DriverEntry returned 0 without calling lDllAttach, so ") +
                        "zerval.sys was never attached and there is no mode list to show");
    }
    std::string line = name + " DriverEntry: 0" + ImageFigures(*module_);
    if (const auto &mp = machine.videoPort().miniport)
        line = name + " DriverEntry: 0, a miniport registered with VideoPortInitialize (HwInitDataSize " +
               std::to_string(mp->initDataSize) + ", HwDeviceExtensionSize " + std::to_string(mp->deviceExtensionSize) + ")";
    return AttachOutcome{true, line, writtenFiles(), miniport};
}

int WithSession(const Options &options, const std::function<int(Session &)> &command)
{
    try {
        Session session(options);
        int status = 0;
        try {
            status = command(session);
        } catch (...) {
            session.writeCoverageAfterAll();
            throw;
        }
        session.writeCoverage();
        // A record handed to a hook outside the module's frames (the host
        // build records it; the emulator stops the image at once).
        if (!session.module().log.breaches().empty())
            throw ToolError("the module broke its contract with the services driver: " +
                            session.module().log.breaches().front());
        session.end(status);
        return status;
    } catch (const emu::Fault &f) {
        if (f.culprit.empty())
            throw;  // the module's own
        throw ToolError(NeighbourFault(options.inputs, f));
    }
}
