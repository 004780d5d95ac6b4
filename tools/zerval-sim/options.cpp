#include "options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "number_text.h"
#include "profile.h"
#include "zerval.h"

namespace {

// One value of an option, as a whole number from min to max.
uint32_t Number(const std::string &what, const std::string &value, uint32_t min = 0, uint32_t max = 0xFFFFFFFFu)
{
    try {
        return static_cast<uint32_t>(text::ParseUnsigned(value, min, max));
    } catch (const text::BadText &e) {
        throw UsageError(what + ": " + e.what());
    }
}

std::vector<std::string> SplitCommas(const std::string &line)
{
    std::vector<std::string> out;
    size_t at = 0;
    for (;;) {
        const size_t comma = line.find(',', at);
        out.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            return out;
        at = comma + 1;
    }
}

std::string Joined(const std::vector<std::string> &names)
{
    std::string s;
    for (const std::string &n : names)
        s += (s.empty() ? "" : ", ") + n;
    return s;
}

std::string CommandList()
{
    std::vector<std::string> names;
    for (size_t i = 0; i < kCommandCount; ++i)
        names.push_back(kCommands[i].name);
    return Joined(names);
}

// How often argv names the option (as "--name" or "--name=VALUE").
int TimesGiven(const std::string &option, int argc, char **argv)
{
    int times = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        times += a == option || a.rfind(option + "=", 0) == 0;
    }
    return times;
}

// CLI11's complaint in the tool's words.
std::string Reworded(const CLI::ParseError &e, int argc, char **argv)
{
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&e) != nullptr) {
        const size_t colon = what.find(':');
        if (colon != std::string::npos && what.compare(0, 1, "-") == 0) {
            const std::string option = what.substr(0, colon);
            if (const int times = TimesGiven(option, argc, argv); times > 1)
                return option + ": given " + std::to_string(times) + " times; it takes one value, give it once";
            return option + ": needs a value";
        }
    }
    if (dynamic_cast<const CLI::ExtrasError *>(&e) != nullptr) {
        const size_t colon = what.find(": ");
        const std::string arg = colon == std::string::npos ? what : what.substr(colon + 2);
        if (!arg.empty() && arg[0] == '-')
            return "unknown option '" + arg + "' (see --help)";
        bool commandGiven = false;
        for (int i = 1; i < argc; ++i)
            for (size_t c = 0; c < kCommandCount; ++c)
                commandGiven = commandGiven || std::string(argv[i]) == kCommands[c].name;
        if (!commandGiven)
            return "unknown command '" + arg + "' (commands: " + CommandList() + ")";
        return "unexpected argument '" + arg + "'";
    }
    return what;
}

// The hook bits of the names --empty-hook gave (the hooks a services driver
// fills; pfnTvControl, the last, is the module's own).
uint8_t HookMask(const std::vector<std::string> &names)
{
    std::vector<std::string> hooks;
    for (int h = 0; h < sim::kHookCount - 1; ++h)
        hooks.push_back(sim::HookName(static_cast<sim::Hook>(h)));
    uint8_t mask = 0;
    for (const std::string &name : names) {
        const auto known = std::find(hooks.begin(), hooks.end(), name);
        if (known == hooks.end())
            throw UsageError("--empty-hook: no hook " + text::Quoted(name) + " (" + Joined(hooks) + ")");
        mask |= sim::HookBit(static_cast<sim::Hook>(known - hooks.begin()));
    }
    return mask;
}

} // namespace

const std::vector<std::string> &EntryNames()
{
    static const std::vector<std::string> names = {
        "DriverEntry",      "lDllAttach",   "vValidateMode",          "SetMode",
        "Orvalen_Function", "MeltoBiosDll", "GetFreeFramebufferSize", "BiosDllSetInitialValue"};
    return names;
}

Options ParseOptions(int argc, char **argv)
{
    Options o;
    Inputs &in = o.inputs;
    Scenario &sc = o.scenario;
    Request &rq = o.request;
    std::string backend, refusePool, attaches, modeTableSize, freqTableSize, rates, flags, option, attributes;
    std::string attachParam, irql, displayMode, gdbPort;
    std::vector<std::string> disableRows, rows, traceEntries, values, emptyHooks;
    bool imageGiven = false, coverageGiven = false, gdbGiven = false;

    CLI::App app{"Runs zerval.sys against a simulated adapter and shows what a display driver sees.", "zerval-sim"};
    app.fallthrough();
    app.set_help_flag("-h,--help", "this help");
    app.set_version_flag("--version", std::string("zerval-sim ") + ZERVAL_VERSION, "the version, and exit");
    app.add_option("--image", in.image, "driver image to load (default: the one the build made; -: standard input)")
        ->each([&](const std::string &) { imageGiven = true; });
    app.add_option("--profile", in.profile, "adapter profile, JSON (default: the built-in default profile; -: standard input)");
    app.add_option("--edid", in.edid, "take the monitor from this EDID (binary, or a hex dump; -: standard input)");
    app.add_option("--backend", backend, "image (default): the emulated zerval.sys; host: the host build");
    app.add_flag("--trace", o.trace.on, "print every call across the module's boundary to stderr, in order");
    app.add_option("--trace-entry", traceEntries, "trace only this entry (repeatable; implies --trace)");
    app.add_option("--coverage", o.coverage,
                   "write an lcov tracefile of the source lines each neighbour image with debug information ran "
                   "(--services, --tv, --display)")
        ->each([&](const std::string &) { coverageGiven = true; });
    app.add_option("--disable-row", disableRows, "set Disabled in catalogue row N before the attach (repeatable; 'all')");
    app.add_option("--row", rows, "N=WIDTHxHEIGHTxBPP: rewrite catalogue row N before the attach (repeatable)");
    app.add_option("--rates", rates, "HZ,HZ,...: rewrite the rate table from its first entry; freqTableSize follows");
    app.add_option("--mode-table-size", modeTableSize, "write modeTableSize before the attach");
    app.add_option("--freq-table-size", freqTableSize, "write freqTableSize before the attach");
    app.add_option("--refuse-pool", refusePool, "refuse the Nth pool request (1 = the first)");
    app.add_option("--attaches", attaches, "call lDllAttach N times (1 to 1000, default 1); the last list is shown");
    app.add_flag("--init-fails", sc.initFails, "pfnInit answers FALSE");
    app.add_option("--empty-hook", emptyHooks, "the services driver leaves this hook empty (repeatable)");
    app.add_option("--services", in.services, "run this kelv.sys image as the services driver instead of the simulated one");
    app.add_option("--tv", in.tv, "run this rmx.sys image as the TV driver instead of the simulated one");
    app.add_option("--display", in.display,
                   "run this display-driver image: its DriverEntry attaches the module instead of lDllAttach(0, 0, 0, 0)");
    app.add_option("--irql", irql,
                   "run each entry at this IRQL (PASSIVE_LEVEL, APC_LEVEL, DISPATCH_LEVEL), at most what zerval.h allows it");
    app.add_option("--attach-param", attachParam, "lDllAttach's AttachParam, which the services driver receives");
    app.add_option("--display-mode", displayMode,
                   "with --display, for a miniport: the mode to set through IOCTL_VIDEO_SET_CURRENT_MODE "
                   "(WIDTHxHEIGHTxBPP@HZ, of those it reports), or 'each' reported mode in turn");
    app.add_option("--gdb", gdbPort,
                   "wait on 127.0.0.1:PORT for gdb (target remote) before the first instruction, and print the gdb "
                   "commands that read the images' symbols; 0: a free port, printed")
        ->each([&](const std::string &) { gdbGiven = true; });
    app.add_option("--save-written", in.saveWritten,
                   "with --display: save each file the display driver wrote (ZwCreateFile, ZwWriteFile) into this "
                   "folder, under the last part of its name");

    // The commands, from the one table, each with its own arguments.
    std::vector<std::pair<CLI::App *, Command>> subcommands;
    for (size_t i = 0; i < kCommandCount; ++i)
        subcommands.push_back({app.add_subcommand(kCommands[i].name, kCommands[i].help), kCommands[i].command});
    auto sub = [&](Command c) {
        return std::find_if(subcommands.begin(), subcommands.end(), [c](const auto &s) { return s.second == c; })->first;
    };
    sub(Command::List)->add_flag("--json", rq.json, "as JSON");
    sub(Command::List)->add_flag("--matrix", rq.matrix, "per depth: resolutions down, rates across, with why a cell is empty");
    for (const Command c : {Command::Validate, Command::Set}) {
        sub(c)->add_option("mode", rq.modeText, "WIDTHxHEIGHTxBPP@HZ");
        sub(c)->add_flag("--unlisted", rq.unlisted, "hand over a record built from MODE even if the list lacks it");
        sub(c)->add_option("--attributes", attributes, "with --unlisted: the record's DriverSpecificAttributeFlags");
    }
    sub(Command::Validate)->add_option("--flags", flags, "the Flags argument");
    sub(Command::Set)->add_option("--option", option, "the Option argument (a 32-bit slot; the module uses its low byte)");
    sub(Command::Function)->add_option("value", values, "32-bit value");
    sub(Command::PassThrough)->add_option("values", values, "three 32-bit values");
    sub(Command::Edid)->add_option("file", rq.edidFile, "EDID file (-: standard input)");
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        throw Answered{app.help()};
    } catch (const CLI::CallForVersion &) {
        throw Answered{app.version() + "\n"};
    } catch (const CLI::ParseError &e) {
        throw UsageError(Reworded(e, argc, argv));
    }

    // The command and its arguments.
    for (const auto &[app, command] : subcommands)
        if (*app)
            rq.command = command;
    if (rq.command == Command::Validate || rq.command == Command::Set) {
        const std::string name = CommandOf(rq.command).name;
        if (rq.modeText.empty())
            throw UsageError(name + ": needs a mode, WIDTHxHEIGHTxBPP@HZ (for example 800x600x16@75)");
        try {
            rq.mode = text::ParseMode(rq.modeText);
        } catch (const text::BadText &e) {
            throw UsageError(name + ": " + e.what());
        }
        if (!attributes.empty() && !rq.unlisted)
            throw UsageError(name + ": --attributes needs --unlisted (a listed mode keeps its own)");
        if (!attributes.empty())
            rq.attributes = Number("--attributes", attributes);
    }
    if (!flags.empty())
        rq.flags = Number("--flags", flags);
    if (!option.empty())
        rq.option = Number("--option", option);
    if (rq.command == Command::Function) {
        if (values.size() != 1)
            throw UsageError("function: needs one value (Orvalen_Function VALUE), got " + std::to_string(values.size()));
        rq.values.push_back(Number("function", values[0]));
    }
    if (rq.command == Command::PassThrough) {
        if (values.size() != 3)
            throw UsageError("passthrough: needs three values (MeltoBiosDll A B C), got " + std::to_string(values.size()));
        for (const std::string &v : values)
            rq.values.push_back(Number("passthrough", v));
    }
    if (rq.command == Command::Edid && rq.edidFile.empty())
        throw UsageError("edid: needs an EDID file");

    // The inputs.
    if (imageGiven && in.image.empty())
        throw UsageError("--image: the path is empty");
    if (!backend.empty() && backend != "image" && backend != "host")
        throw UsageError("--backend: " + text::Quoted(backend) + " is neither image nor host");
    in.host = backend == "host";
    if (!irql.empty() && !(in.irql = emu::ParseIrql(irql)))
        throw UsageError("--irql: " + text::Quoted(irql) + " is not PASSIVE_LEVEL, APC_LEVEL or DISPATCH_LEVEL (or 0 to 2)");
    if (in.irql && in.host)
        throw UsageError("--irql: the host build runs at no IRQL (drop --backend host)");
    if (in.irql && !in.display.empty())
        throw UsageError("--irql: with --display the display driver calls the entries, at the level it runs at "
                         "(a miniport's video port runs it at PASSIVE_LEVEL); drop one");
    if (in.host && imageGiven)
        throw UsageError("--image and --backend host: the host build runs no image; give one or the other");
    if (in.host && !(in.services.empty() && in.tv.empty() && in.display.empty()))
        throw UsageError("--services, --tv and --display run images; the host build has none (drop --backend host)");
    if (in.display == "-")
        throw UsageError("--display: a display driver is bound by its file name; give its path, not -");
    if (!in.saveWritten.empty() && in.display.empty())
        throw UsageError("--save-written: keeps what a display driver wrote; give --display too");
    if (!displayMode.empty() && in.display.empty())
        throw UsageError("--display-mode: the mode a display driver's miniport sets; give --display too");
    if (displayMode == "each") {
        in.displayEachMode = true;
    } else if (!displayMode.empty()) {
        try {
            in.displayMode = text::ParseMode(displayMode);
        } catch (const text::BadText &e) {
            throw UsageError("--display-mode: " + std::string(e.what()) + " (or 'each')");
        }
    }
    if (!in.services.empty() && (sc.initFails || !emptyHooks.empty()))
        throw UsageError("--init-fails and --empty-hook set the simulated services driver; --services replaces it");
    if (!in.display.empty() && (!attachParam.empty() || !attaches.empty()))
        throw UsageError("--display: the display driver makes the attach; --attach-param and --attaches do not apply");
    if (coverageGiven && o.coverage.empty())
        throw UsageError("--coverage: the path is empty");
    if (!o.coverage.empty() && in.services.empty() && in.tv.empty() && in.display.empty())
        throw UsageError("--coverage: counts the lines of the neighbour images; give --services, --tv or --display");
    if (!o.coverage.empty() && (rq.command == Command::Profile || rq.command == Command::Edid ||
                                rq.command == Command::Served))
        throw UsageError(std::string("--coverage: ") + CommandOf(rq.command).name + " runs no image");
    if (rq.json && rq.matrix)
        throw UsageError("list: --json and --matrix are two different views; give one");
    for (const std::string &entry : traceEntries)
        for (const std::string &e : SplitCommas(entry)) {
            if (std::find(EntryNames().begin(), EntryNames().end(), e) == EntryNames().end())
                throw UsageError("--trace-entry: no entry " + text::Quoted(e) + " (" + Joined(EntryNames()) + ")");
            o.trace.entries.push_back(e);
        }
    o.trace.on = o.trace.on || !o.trace.entries.empty();

    if (gdbGiven) {
        try {
            o.gdbPort = static_cast<uint16_t>(text::ParseUnsigned(gdbPort, 0, 65535));
        } catch (const text::BadText &) {
            throw UsageError("--gdb: " + text::Quoted(gdbPort) +
                             " is not a port number (0 to 65535; 0: a free one, which zerval-sim prints)");
        }
        if (in.host)
            throw UsageError("--gdb: the host build runs no image to debug (drop --backend host)");
        if (rq.command == Command::Profile || rq.command == Command::Edid || rq.command == Command::Served)
            throw UsageError("--gdb: the " + std::string(CommandOf(rq.command).name) + " command runs no image");
    }

    // The scenario.
    sc.emptiedHooks = HookMask(emptyHooks);
    if (!attachParam.empty())
        sc.attachParam = Number("--attach-param", attachParam);
    for (const std::string &r : disableRows) {
        if (r == "all") {
            for (uint32_t i = 0; i < ZERVAL_MODE_TABLE_ROWS; ++i)
                sc.catalogue.disabledRows.push_back(i);
        } else {
            sc.catalogue.disabledRows.push_back(Number("--disable-row", r, 0, ZERVAL_MODE_TABLE_ROWS - 1));
        }
    }
    for (const std::string &r : rows) {
        const size_t eq = r.find('=');
        const std::string form = " is not N=WIDTHxHEIGHTxBPP (for example 3=800x600x16)";
        if (eq == std::string::npos)
            throw UsageError("--row: " + text::Quoted(r) + form);
        const uint32_t index = Number("--row", r.substr(0, eq), 0, ZERVAL_MODE_TABLE_ROWS - 1);
        try {
            sc.catalogue.resizedRows.push_back({index, text::ParseMode(r.substr(eq + 1) + "@0")});
        } catch (const text::BadText &) {
            throw UsageError("--row: " + text::Quoted(r) + form);
        }
    }
    if (!rates.empty()) {
        for (const std::string &r : SplitCommas(rates))
            sc.catalogue.rates.push_back(Number("--rates", r));
        if (sc.catalogue.rates.size() > ZERVAL_FREQUENCY_TABLE_ENTRIES)
            throw UsageError("--rates: " + std::to_string(sc.catalogue.rates.size()) + " rates; the table holds " +
                             std::to_string(ZERVAL_FREQUENCY_TABLE_ENTRIES));
    }
    if (!modeTableSize.empty())
        sc.catalogue.modeTableSize = Number("--mode-table-size", modeTableSize);
    if (!freqTableSize.empty())
        sc.catalogue.freqTableSize = Number("--freq-table-size", freqTableSize);
    if (!refusePool.empty())
        sc.refusePoolRequest = Number("--refuse-pool", refusePool, 1);
    if (!attaches.empty())
        sc.attaches = Number("--attaches", attaches, 1, 1000);
    return o;
}
