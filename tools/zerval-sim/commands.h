// zerval-sim's commands: one table, from which the command line is read and
// the run dispatched.  Each command is one small function.
#ifndef ZERVAL_SIM_TOOL_COMMANDS_H
#define ZERVAL_SIM_TOOL_COMMANDS_H

#include <cstddef>

enum class Command { List, Validate, Set, Function, PassThrough, FreeFramebuffer, InitialValue, Profile, Edid, Served };

struct Options;

struct CommandInfo {
    Command command;
    const char *name;  // as typed: "free-framebuffer"
    const char *help;
    int (*run)(const Options &);  // the exit status
};

// In the order the help lists them; the first is the default.
extern const CommandInfo kCommands[];
extern const size_t kCommandCount;
const CommandInfo &CommandOf(Command command);

#endif
