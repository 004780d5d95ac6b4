// How zerval-sim fails and warns: an error about one file or argument is a
// ToolError whose text names it (main prints it as one line, status 1); a
// warning is one line on stderr and the run goes on.
#ifndef ZERVAL_SIM_TOOL_TOOL_ERROR_H
#define ZERVAL_SIM_TOOL_TOOL_ERROR_H

#include <iostream>
#include <stdexcept>
#include <string>

struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline void Warn(const std::string &message) { std::cerr << "zerval-sim: warning: " << message << "\n"; }

#endif
