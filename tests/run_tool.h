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

// Where a run's standard input comes from and its standard output goes:
// by default nothing (/dev/null) and a file that ToolRun::out then holds.
struct ToolIo {
    std::string in = "/dev/null";
    std::string out;  // another file or device; ToolRun::out is then empty
};

ToolRun RunTool(const std::string &program, const std::vector<std::string> &args, const ToolIo &io = {});

#endif
