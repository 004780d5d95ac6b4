// zerval-sim --gdb: gdb attached to the emulated stack.  The tool listens on
// 127.0.0.1, prints the gdb commands that place every loaded image's symbols
// at its load address and connect, waits for gdb, and hands the connection
// to the machine, which stops before the first instruction.  The run's end
// ends gdb's session with the tool's exit status.
#ifndef ZERVAL_SIM_TOOL_DEBUGGER_H
#define ZERVAL_SIM_TOOL_DEBUGGER_H

#include <cstdint>
#include <memory>

#include "gdb_remote.h"
#include "machine.h"
#include "options.h"

class Debugger {
public:
    // Listens on the port (0: one the system picks); a port that cannot be
    // had is a ToolError.
    explicit Debugger(uint16_t port);
    // Ends gdb's session as a failed run, unless finish() ended it.
    ~Debugger();
    Debugger(const Debugger &) = delete;
    Debugger &operator=(const Debugger &) = delete;

    // Prints the commands for gdb to stderr, waits for it and attaches it
    // to the machine.
    void attach(emu::Machine &machine, const Inputs &inputs);
    // The run ended with this exit status.
    void finish(int status);

private:
    std::unique_ptr<emu::gdb::Listener> listener_;
    std::unique_ptr<emu::gdb::Stub> stub_;
    uint16_t requested_;
};

#endif
