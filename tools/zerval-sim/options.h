// zerval-sim's command line, read and checked: every value in range, no two
// options that contradict each other.  A usage error throws UsageError with
// one line that names the argument at fault.  What the line asks for comes
// apart in narrow pieces, each for the part of the tool that needs it.
#ifndef ZERVAL_SIM_TOOL_OPTIONS_H
#define ZERVAL_SIM_TOOL_OPTIONS_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "irql.h"
#include "mode_text.h"

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// What the command line asked for instead of a run: the help or the version,
// to print as the whole output.
struct Answered {
    std::string text;
};

// The files the run reads ("-": standard input) and the real images that
// stand in for the simulated neighbours (image backend only).
struct Inputs {
    std::string image;  // empty: the build's
    std::string profile;
    std::string edid;
    bool host = false;
    std::string services;     // a kelv.sys
    std::string tv;           // an rmx.sys
    std::string display;      // a display driver whose DriverEntry attaches the module
    std::string saveWritten;  // a folder for the files the display driver wrote
    // A display driver that registers a miniport: the mode its display driver
    // sets through the video port (none: the first reported one zerval.sys
    // published), or each reported mode in turn.
    std::optional<text::ModeText> displayMode;
    bool displayEachMode = false;
    // The IRQL the image's entries run at, each at most what zerval.h allows
    // it (image backend only); none: PASSIVE_LEVEL.
    std::optional<emu::Irql> irql;
};

// Edits of the exported catalogue, made before the first attach.
struct CatalogueEdits {
    std::vector<uint32_t> disabledRows;
    std::vector<std::pair<uint32_t, text::ModeText>> resizedRows;
    std::vector<uint32_t> rates;  // replaces the table from entry 0
    std::optional<uint32_t> modeTableSize;
    std::optional<uint32_t> freqTableSize;
};

// What happens before and during the attach.
struct Scenario {
    CatalogueEdits catalogue;
    uint32_t refusePoolRequest = 0;  // 0: none
    uint32_t attaches = 1;
    uint32_t attachParam = 0;  // lDllAttach's AttachParam, passed on to the services driver
    bool initFails = false;
    uint8_t emptiedHooks = 0;  // the hooks the simulated services driver leaves empty (sim::HookBit)
};

struct TraceRequest {
    bool on = false;
    std::vector<std::string> entries;  // empty: every entry
};

// The command and its own arguments.
struct Request {
    Command command = Command::List;
    bool json = false;
    bool matrix = false;
    std::string modeText;
    text::ModeText mode;
    bool unlisted = false;
    uint32_t attributes = 0;
    uint32_t flags = 0;
    uint32_t option = 0;
    std::vector<uint32_t> values;
    std::string edidFile;  // the edid command's argument
};

struct Options {
    Inputs inputs;
    Scenario scenario;
    TraceRequest trace;
    Request request;
    // --coverage: where the lcov tracefile of the lines the neighbour images
    // ran goes; empty: none is written.
    std::string coverage;
    // --gdb: the port gdb connects to on 127.0.0.1 (0: one the system picks).
    std::optional<uint16_t> gdbPort;
};

// The entries --trace-entry accepts, in the module's export order.
const std::vector<std::string> &EntryNames();

// Reads argv.  Throws Answered when it asks for the help or the version.
Options ParseOptions(int argc, char **argv);

#endif
