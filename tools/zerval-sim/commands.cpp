#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "inputs.h"
#include "machine.h"
#include "matrix.h"
#include "number_text.h"
#include "options.h"
#include "session.h"
#include "tool_error.h"
#include "views.h"
#include "zerval.h"

namespace {

// The record a validate or set hands over: the published one with the mode
// asked for, or with --unlisted one built from the mode.
VIDEO_MODE_INFORMATION RecordFor(Session &s, const Request &r)
{
    VIDEO_MODE_INFORMATION record{};
    if (r.unlisted) {
        record.Length = sizeof(VIDEO_MODE_INFORMATION);
        record.VisScreenWidth = r.mode.width;
        record.VisScreenHeight = r.mode.height;
        record.BitsPerPlane = r.mode.bitsPerPixel;
        record.Frequency = r.mode.refresh;
        record.DriverSpecificAttributeFlags = r.attributes;
        return record;
    }
    const auto records = s.module().published();
    const auto found = std::find_if(records.begin() + std::min<size_t>(records.size(), ZERVAL_LEADING_RECORDS),
                                    records.end(), [&](const VIDEO_MODE_INFORMATION &m) {
                                        return m.VisScreenWidth == r.mode.width && m.VisScreenHeight == r.mode.height &&
                                               m.BitsPerPlane == r.mode.bitsPerPixel && m.Frequency == r.mode.refresh;
                                    });
    if (found == records.end())
        throw ToolError("mode " + r.modeText + " is not in the published list (see the list, or add --unlisted)");
    return *found;
}

int List(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        if (o.request.json) {
            PrintJson(s);
            return 0;
        }
        PrintHeader(s);
        if (o.request.matrix)
            PrintMatrix(s.module(), s.lastAttachStart());
        else
            PrintTable(s);
        return 0;
    });
}

// The attach line, for a command whose output does not begin with it, when
// the attach failed: what follows is the module's answer in that state.
void ShowFailedAttach(Session &s)
{
    if (!s.attached())
        PrintAttaches(s);
}

int Validate(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        ShowFailedAttach(s);
        VIDEO_MODE_INFORMATION record = RecordFor(s, o.request);
        const CallMark from = MarkCalls(s.module());
        s.tracer().call("vValidateMode", "(&record, " + text::Hex(o.request.flags, 8) + ")",
                        [&] { s.module().vValidateMode(&record, o.request.flags); });
        std::printf("%s: Length %u (%s)\n", o.request.modeText.c_str(), record.Length,
                    record.Length == ZERVAL_MODE_USABLE ? "usable" : "not usable");
        PrintAsked(s, from);
        return 0;
    });
}

int Set(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        ShowFailedAttach(s);
        const VIDEO_MODE_INFORMATION record = RecordFor(s, o.request);
        const uint32_t option = o.request.option;
        if (option > 0xFF)
            Warn("--option " + text::Hex(option) + ": SetMode passes on only the low byte, " + text::Hex(option & 0xFF));
        const CallMark from = MarkCalls(s.module());
        const uint32_t r = s.tracer().call("SetMode", "(&record, " + text::Hex(option) + ")",
                                           [&] { return s.module().SetMode(&record, option); });
        std::printf("%s: SetMode returned %u%s\n", o.request.modeText.c_str(), r,
                    r == ZERVAL_NO_ERROR ? "" : " (ERROR_INVALID_PARAMETER)");
        PrintAsked(s, from);
        return 0;
    });
}

int Function(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        ShowFailedAttach(s);
        const uint32_t value = o.request.values.at(0);
        const std::string args = "(" + text::Hex(value, 8) + ")";
        const uint32_t r = s.tracer().call("Orvalen_Function", args, [&] { return s.module().Orvalen_Function(value); });
        std::printf("Orvalen_Function%s = %u\n", args.c_str(), r);
        return 0;
    });
}

int PassThrough(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        ShowFailedAttach(s);
        const std::vector<uint32_t> &v = o.request.values;
        const std::string args = "(" + text::Hex(v.at(0), 8) + ", " + text::Hex(v.at(1), 8) + ", " + text::Hex(v.at(2), 8) + ")";
        const uint32_t r = s.tracer().call("MeltoBiosDll", args, [&] { return s.module().MeltoBiosDll(v[0], v[1], v[2]); });
        std::printf("MeltoBiosDll%s = %u\n", args.c_str(), r);
        return 0;
    });
}

int FreeFramebuffer(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        ShowFailedAttach(s);
        std::printf("GetFreeFramebufferSize() = %u\n",
                    s.tracer().call("GetFreeFramebufferSize", "()", [&] { return s.module().GetFreeFramebufferSize(); }));
        return 0;
    });
}

int InitialValue(const Options &o)
{
    return WithSession(o, [&](Session &s) {
        ShowFailedAttach(s);
        std::printf("BiosDllSetInitialValue() = %u\n",
                    s.tracer().call("BiosDllSetInitialValue", "()", [&] { return s.module().BiosDllSetInitialValue(); }));
        return 0;
    });
}

int Profile(const Options &o)
{
    std::cout << sim::ProfileToJson(ScenarioProfile(o)) << "\n";
    return 0;
}

int Edid(const Options &o)
{
    PrintEdid(o.request.edidFile, ReadEdid(o.request.edidFile));
    return 0;
}

// What the simulation serves an image, by module: each routine with how it
// is called, as the loader binds an import to it.
int Served(const Options &)
{
    std::string module;
    for (const emu::ServedRoutine &r : emu::Machine::ServedRoutines()) {
        if (r.module != module) {
            module = r.module;
            std::printf("%s%s:\n", module == emu::Machine::ServedRoutines().front().module ? "" : "\n", module.c_str());
        }
        std::printf("  %-34s %s\n", r.name.c_str(),
                    r.cdecl ? "cdecl" : ("stdcall, " + std::to_string(r.argBytes) + " bytes of arguments").c_str());
    }
    return 0;
}

} // namespace

const CommandInfo kCommands[] = {
    {Command::List, "list", "the published mode list (the default)", List},
    {Command::Validate, "validate", "vValidateMode on a mode of the list", Validate},
    {Command::Set, "set", "SetMode on a mode of the list", Set},
    {Command::Function, "function", "Orvalen_Function VALUE", Function},
    {Command::PassThrough, "passthrough", "MeltoBiosDll A B C", PassThrough},
    {Command::FreeFramebuffer, "free-framebuffer", "GetFreeFramebufferSize", FreeFramebuffer},
    {Command::InitialValue, "initial-value", "BiosDllSetInitialValue", InitialValue},
    {Command::Profile, "profile", "the adapter profile in use, as JSON", Profile},
    {Command::Edid, "edid", "what an EDID file says, and the monitor taken from it", Edid},
    {Command::Served, "served", "the kernel's, video port's and siblings' routines the simulation serves an image", Served},
};
const size_t kCommandCount = std::size(kCommands);

const CommandInfo &CommandOf(Command command)
{
    return *std::find_if(std::begin(kCommands), std::end(kCommands),
                         [command](const CommandInfo &c) { return c.command == command; });
}
