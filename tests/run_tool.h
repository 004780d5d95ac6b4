// Runs a program as a user would (a bare name is looked up in PATH) and keeps
// what it printed and its status.
#ifndef ZERVAL_TESTS_RUN_TOOL_H
#define ZERVAL_TESTS_RUN_TOOL_H

#include <string>
#include <vector>

struct ToolRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

ToolRun RunTool(const std::string &program, const std::vector<std::string> &args);

#endif
