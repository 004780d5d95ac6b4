// zerval-sim's command line, read and checked: every value in range, no two
// options that contradict each other.  A usage error throws UsageError with
// one line that names the argument at fault.
#ifndef ZERVAL_SIM_TOOL_OPTIONS_H
#define ZERVAL_SIM_TOOL_OPTIONS_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "irql.h"
#include "mode_text.h"

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Command { List, Validate, Set, Function, PassThrough, FreeFramebuffer, InitialValue, Profile, Edid };

// Edits of the exported catalogue, made before the first attach.
struct CatalogueEdits {
    std::vector<uint32_t> disabledRows;
    std::vector<std::pair<uint32_t, sim::ModeText>> resizedRows;
    std::vector<uint32_t> rates;  // replaces the table from entry 0
    std::optional<uint32_t> modeTableSize;
    std::optional<uint32_t> freqTableSize;
};

struct Options {
    std::string image;  // empty: the build's
    std::string profile;
    std::string edid;
    bool host = false;
    bool trace = false;
    std::vector<std::string> traceEntries;  // empty: every entry

    CatalogueEdits catalogue;
    uint32_t refusePoolRequest = 0;  // 0: none
    uint32_t attaches = 1;
    bool initFails = false;
    std::vector<std::string> emptyHooks;
    // Real images instead of the simulated neighbours (image backend only).
    std::string services;  // a kelv.sys
    std::string tv;        // an rmx.sys
    std::string display;   // a display driver whose DriverEntry attaches the module
    std::string saveWritten;  // a folder for the files the display driver wrote
    uint32_t attachParam = 0;  // lDllAttach's AttachParam, passed on to the services driver
    // The IRQL the image's entries run at, each at most what zerval.h allows
    // it (image backend only); none: PASSIVE_LEVEL.
    std::optional<emu::Irql> irql;

    Command command = Command::List;
    bool json = false;
    bool matrix = false;
    std::string modeText;
    sim::ModeText mode;
    bool unlisted = false;
    uint32_t attributes = 0;
    uint32_t flags = 0;
    uint32_t option = 0;
    std::vector<uint32_t> values;
    std::string edidFile;  // the edid command's argument
};

// The entries --trace-entry accepts, in the module's export order.
const std::vector<std::string> &EntryNames();

// Reads argv.  Prints the help and exits 0 when asked for it.
Options ParseOptions(int argc, char **argv);

#endif
