// One run against the module: the module loaded as the inputs say (the host
// build, or the image with its real or simulated neighbours), the adapter's
// profile with the scenario's changes, the tracer, and the start as a
// display driver makes it: DriverEntry, the catalogue edits, the attaches
// (or the display driver's own DriverEntry, which attaches the module).
#ifndef ZERVAL_SIM_TOOL_SESSION_H
#define ZERVAL_SIM_TOOL_SESSION_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "coverage.h"
#include "debugger.h"
#include "module_under_test.h"
#include "options.h"
#include "profile.h"
#include "services_calls.h"
#include "trace.h"

// The image's figures of its last call (", 1234 instructions in the image,
// 5 calls out, deepest stack 96 bytes"); nothing for the host build.
std::string ImageFigures(ModuleUnderTest &module);

// The profile the inputs name, with the scenario's changes to the simulated
// services driver (--init-fails, --empty-hook).
sim::Profile ScenarioProfile(const Options &options);

// One attach as the display driver saw it.
struct AttachOutcome {
    bool returned = false;
    std::string line;                  // "lDllAttach: ..."
    std::vector<std::string> written;  // the files a display driver wrote, one line each
    std::vector<std::string> miniport;  // a display driver's miniport, as the video port ran it
};

class Session {
public:
    explicit Session(const Options &options);
    ~Session();

    ModuleUnderTest &module() { return *module_; }
    Tracer &tracer() { return *tracer_; }
    const sim::Profile &profile() const { return profile_; }
    const Inputs &inputs() const { return options_.inputs; }
    const std::vector<AttachOutcome> &attaches() const { return attaches_; }
    bool attached() const { return attaches_.back().returned; }
    // With --coverage: the tracefile of what the neighbour images ran so far.
    void writeCoverage() const;
    // The same while the run stops with an error: a tracefile that cannot be
    // written is only a warning then.
    void writeCoverageAfterAll() const;
    // Where the last attach's calls begin.
    CallMark lastAttachStart() const { return lastAttachStart_; }
    // The run is over with this exit status: gdb's session, if any, ends.
    void end(int status);

private:
    void start();
    AttachOutcome attach(uint32_t number);
    AttachOutcome startDisplayDriver();
    std::vector<std::string> writtenFiles();

    const Options &options_;
    sim::Profile profile_;
    std::unique_ptr<Debugger> debugger_;  // with --gdb; outlives the machine, which holds its connection
    std::unique_ptr<ModuleUnderTest> module_;
    std::unique_ptr<Tracer> tracer_;
    std::unique_ptr<Coverage> coverage_;  // with --coverage
    std::vector<AttachOutcome> attaches_;
    CallMark lastAttachStart_;
};

// Starts a session and runs `command` in it; a neighbour's fault and a
// record the module handed outside its frames end it as a ToolError.
int WithSession(const Options &options, const std::function<int(Session &)> &command);

#endif
