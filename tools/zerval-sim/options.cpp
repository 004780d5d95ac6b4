#include "options.h"

#include "zerval.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace {

const char *const kCommands[] = {"list", "validate", "set", "function", "passthrough",
                                 "free-framebuffer", "initial-value", "profile", "edid"};

std::string CommandList()
{
    std::string s;
    for (const char *c : kCommands)
        s += (s.empty() ? "" : ", ") + std::string(c);
    return s;
}

// One value of an option, as a whole number from 0 to max.
uint32_t Number(const std::string &what, const std::string &text, uint32_t max = 0xFFFFFFFFu)
{
    try {
        return static_cast<uint32_t>(sim::ParseUnsigned(text, max));
    } catch (const sim::BadText &e) {
        throw UsageError(what + ": " + e.what());
    }
}

uint32_t Positive(const std::string &what, const std::string &text, uint32_t max)
{
    const uint32_t v = Number(what, text, max);
    if (v == 0)
        throw UsageError(what + ": '" + text + "' is 0; give 1 or more");
    return v;
}

std::vector<std::string> SplitCommas(const std::string &text)
{
    std::vector<std::string> out;
    size_t at = 0;
    for (;;) {
        const size_t comma = text.find(',', at);
        out.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            return out;
        at = comma + 1;
    }
}

// CLI11's complaint in the tool's words.
std::string Reworded(const CLI::ParseError &e, int argc, char **argv)
{
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&e) != nullptr) {
        const size_t colon = what.find(':');
        if (colon != std::string::npos && what.compare(0, 1, "-") == 0)
            return what.substr(0, colon) + ": needs a value";
    }
    if (dynamic_cast<const CLI::ExtrasError *>(&e) != nullptr) {
        const size_t colon = what.find(": ");
        const std::string arg = colon == std::string::npos ? what : what.substr(colon + 2);
        if (!arg.empty() && arg[0] == '-')
            return "unknown option '" + arg + "' (see --help)";
        bool commandGiven = false;
        for (int i = 1; i < argc; ++i)
            for (const char *c : kCommands)
                commandGiven = commandGiven || std::string(argv[i]) == c;
        if (!commandGiven)
            return "unknown command '" + arg + "' (commands: " + CommandList() + ")";
        return "unexpected argument '" + arg + "'";
    }
    return what;
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
    std::string backend, refusePool, attaches, modeTableSize, freqTableSize, rates, flags, option, attributes;
    std::string attachParam, irql;
    std::vector<std::string> disableRows, rows, traceEntries, values;
    bool imageGiven = false;

    CLI::App app{"Runs zerval.sys against a simulated adapter and shows what a display driver sees."};
    app.fallthrough();
    app.set_help_flag("-h,--help", "this help");
    const std::string version = std::string("zerval-sim ") + ZERVAL_VERSION;
    app.set_version_flag("--version", version, "the release, one line");
    app.add_option("--image", o.image, "driver image to load (default: the one the build made)")
        ->each([&](const std::string &) { imageGiven = true; });
    app.add_option("--profile", o.profile, "adapter profile, JSON (default: the built-in default profile)");
    app.add_option("--edid", o.edid, "take the monitor from this EDID (binary, or a hex dump)");
    app.add_option("--backend", backend, "image (default): the emulated zerval.sys; host: the host build");
    app.add_flag("--trace", o.trace, "print every call across the module's boundary to stderr, in order");
    app.add_option("--trace-entry", traceEntries, "trace only this entry (repeatable; implies --trace)");
    app.add_option("--disable-row", disableRows, "set Disabled in catalogue row N before the attach (repeatable; 'all')");
    app.add_option("--row", rows, "N=WIDTHxHEIGHTxBPP: rewrite catalogue row N before the attach (repeatable)");
    app.add_option("--rates", rates, "HZ,HZ,...: rewrite the rate table from its first entry; freqTableSize follows");
    app.add_option("--mode-table-size", modeTableSize, "write modeTableSize before the attach");
    app.add_option("--freq-table-size", freqTableSize, "write freqTableSize before the attach");
    app.add_option("--refuse-pool", refusePool, "refuse the Nth pool request (1 = the first)");
    app.add_option("--attaches", attaches, "call lDllAttach N times (default 1); the last list is shown");
    app.add_flag("--init-fails", o.initFails, "pfnInit answers FALSE");
    app.add_option("--empty-hook", o.emptyHooks, "the services driver leaves this hook empty (repeatable)");
    app.add_option("--services", o.services, "run this kelv.sys image as the services driver instead of the simulated one");
    app.add_option("--tv", o.tv, "run this rmx.sys image as the TV driver instead of the simulated one");
    app.add_option("--display", o.display,
                   "run this display-driver image: its DriverEntry attaches the module instead of lDllAttach(0, 0, 0, 0)");
    app.add_option("--irql", irql,
                   "run each entry at this IRQL (PASSIVE_LEVEL, APC_LEVEL, DISPATCH_LEVEL), at most what zerval.h allows it");
    app.add_option("--attach-param", attachParam, "lDllAttach's AttachParam, which the services driver receives");
    app.add_option("--save-written", o.saveWritten,
                   "with --display: save each file the display driver wrote (ZwCreateFile, ZwWriteFile) into this "
                   "folder, under the last part of its name");

    auto *list = app.add_subcommand("list", "the published mode list (the default)");
    list->add_flag("--json", o.json, "as JSON");
    list->add_flag("--matrix", o.matrix, "per depth: resolutions down, rates across, with why a cell is empty");
    auto *validate = app.add_subcommand("validate", "vValidateMode on a mode of the list");
    validate->add_option("mode", o.modeText, "WIDTHxHEIGHTxBPP@HZ");
    validate->add_option("--flags", flags, "the Flags argument");
    auto *set = app.add_subcommand("set", "SetMode on a mode of the list");
    set->add_option("mode", o.modeText, "WIDTHxHEIGHTxBPP@HZ");
    set->add_option("--option", option, "the Option argument (a 32-bit slot; the module uses its low byte)");
    for (auto *sub : {validate, set}) {
        sub->add_flag("--unlisted", o.unlisted, "hand over a record built from MODE even if the list lacks it");
        sub->add_option("--attributes", attributes, "with --unlisted: the record's DriverSpecificAttributeFlags");
    }
    auto *function = app.add_subcommand("function", "Orvalen_Function VALUE");
    function->add_option("value", values, "32-bit value");
    auto *melto = app.add_subcommand("passthrough", "MeltoBiosDll A B C");
    melto->add_option("values", values, "three 32-bit values");
    auto *freeFb = app.add_subcommand("free-framebuffer", "GetFreeFramebufferSize");
    auto *initial = app.add_subcommand("initial-value", "BiosDllSetInitialValue");
    auto *profileCmd = app.add_subcommand("profile", "the adapter profile in use, as JSON");
    auto *edidCmd = app.add_subcommand("edid", "what an EDID file says, and the monitor taken from it");
    edidCmd->add_option("file", o.edidFile, "EDID file");
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::cout << app.help();
        std::exit(0);
    } catch (const CLI::CallForVersion &) {
        std::cout << version << '\n';
        std::exit(0);
    } catch (const CLI::ParseError &e) {
        throw UsageError(Reworded(e, argc, argv));
    }

    // The command and its arguments.
    const std::pair<CLI::App *, Command> commands[] = {
        {list, Command::List},       {validate, Command::Validate},   {set, Command::Set},
        {function, Command::Function}, {melto, Command::PassThrough}, {freeFb, Command::FreeFramebuffer},
        {initial, Command::InitialValue}, {profileCmd, Command::Profile}, {edidCmd, Command::Edid}};
    for (const auto &[sub, command] : commands)
        if (*sub)
            o.command = command;
    if (o.command == Command::Validate || o.command == Command::Set) {
        const std::string name = o.command == Command::Validate ? "validate" : "set";
        if (o.modeText.empty())
            throw UsageError(name + ": needs a mode, WIDTHxHEIGHTxBPP@HZ (for example 800x600x16@75)");
        try {
            o.mode = sim::ParseMode(o.modeText);
        } catch (const sim::BadText &e) {
            throw UsageError(name + ": " + e.what());
        }
        if (!attributes.empty() && !o.unlisted)
            throw UsageError(name + ": --attributes needs --unlisted (a listed mode keeps its own)");
        if (!attributes.empty())
            o.attributes = Number("--attributes", attributes);
    }
    if (!flags.empty())
        o.flags = Number("--flags", flags);
    if (!option.empty())
        o.option = Number("--option", option);
    if (o.command == Command::Function) {
        if (values.size() != 1)
            throw UsageError("function: needs one value (Orvalen_Function VALUE), got " + std::to_string(values.size()));
        o.values.push_back(Number("function", values[0]));
    }
    if (o.command == Command::PassThrough) {
        if (values.size() != 3)
            throw UsageError("passthrough: needs three values (MeltoBiosDll A B C), got " + std::to_string(values.size()));
        for (const std::string &v : values)
            o.values.push_back(Number("passthrough", v));
    }
    if (o.command == Command::Edid && o.edidFile.empty())
        throw UsageError("edid: needs an EDID file");

    // Global options.
    if (imageGiven && o.image.empty())
        throw UsageError("--image: the path is empty");
    if (!backend.empty() && backend != "image" && backend != "host")
        throw UsageError("--backend: '" + backend + "' is neither image nor host");
    o.host = backend == "host";
    if (o.host && imageGiven)
        throw UsageError("--image and --backend host: the host build runs no image; give one or the other");
    if (o.host && !(o.services.empty() && o.tv.empty() && o.display.empty()))
        throw UsageError("--services, --tv and --display run images; the host build has none (drop --backend host)");
    if (!o.services.empty() && (o.initFails || !o.emptyHooks.empty()))
        throw UsageError("--init-fails and --empty-hook set the simulated services driver; --services replaces it");
    if (!o.display.empty() && (!attachParam.empty() || o.attaches != 1 || !attaches.empty()))
        throw UsageError("--display: the display driver makes the attach; --attach-param and --attaches do not apply");
    if (!o.saveWritten.empty() && o.display.empty())
        throw UsageError("--save-written: keeps what a display driver wrote; give --display too");
    if (!attachParam.empty())
        o.attachParam = Number("--attach-param", attachParam);
    if (!irql.empty() && !(o.irql = emu::ParseIrql(irql)))
        throw UsageError("--irql: '" + irql + "' is not PASSIVE_LEVEL, APC_LEVEL or DISPATCH_LEVEL (or 0 to 2)");
    if (o.irql && o.host)
        throw UsageError("--irql: the host build runs at no IRQL (drop --backend host)");
    if (o.json && o.matrix)
        throw UsageError("list: --json and --matrix are two different views; give one");
    for (const std::string &entry : traceEntries)
        for (const std::string &e : SplitCommas(entry)) {
            if (std::find(EntryNames().begin(), EntryNames().end(), e) == EntryNames().end())
                throw UsageError("--trace-entry: no entry '" + e + "' (DriverEntry, lDllAttach, vValidateMode, "
                                 "SetMode, Orvalen_Function, MeltoBiosDll, GetFreeFramebufferSize, BiosDllSetInitialValue)");
            o.traceEntries.push_back(e);
        }
    o.trace = o.trace || !o.traceEntries.empty();

    // The scenario.
    for (const std::string &r : disableRows) {
        if (r == "all") {
            for (uint32_t i = 0; i < ZERVAL_MODE_TABLE_ROWS; ++i)
                o.catalogue.disabledRows.push_back(i);
        } else {
            o.catalogue.disabledRows.push_back(Number("--disable-row", r, ZERVAL_MODE_TABLE_ROWS - 1));
        }
    }
    for (const std::string &r : rows) {
        const size_t eq = r.find('=');
        if (eq == std::string::npos)
            throw UsageError("--row: '" + r + "' is not N=WIDTHxHEIGHTxBPP (for example 3=800x600x16)");
        const uint32_t index = Number("--row", r.substr(0, eq), ZERVAL_MODE_TABLE_ROWS - 1);
        try {
            o.catalogue.resizedRows.push_back({index, sim::ParseMode(r.substr(eq + 1) + "@0")});
        } catch (const sim::BadText &) {
            throw UsageError("--row: '" + r + "' is not N=WIDTHxHEIGHTxBPP (for example 3=800x600x16)");
        }
    }
    if (!rates.empty()) {
        for (const std::string &r : SplitCommas(rates))
            o.catalogue.rates.push_back(Number("--rates", r));
        if (o.catalogue.rates.size() > ZERVAL_FREQUENCY_TABLE_ENTRIES)
            throw UsageError("--rates: " + std::to_string(o.catalogue.rates.size()) + " rates; the table holds " +
                             std::to_string(ZERVAL_FREQUENCY_TABLE_ENTRIES));
    }
    if (!modeTableSize.empty())
        o.catalogue.modeTableSize = Number("--mode-table-size", modeTableSize);
    if (!freqTableSize.empty())
        o.catalogue.freqTableSize = Number("--freq-table-size", freqTableSize);
    if (!refusePool.empty())
        o.refusePoolRequest = Positive("--refuse-pool", refusePool, 0xFFFFFFFFu);
    if (!attaches.empty())
        o.attaches = Positive("--attaches", attaches, 1000);
    return o;
}
