// The command line of the build's image tools (pe-finish, biosdll-check):
// `TOOL IMAGE`, or `TOOL --version`.  Anything else is a usage line and
// status 2; what the work throws is one line, "TOOL: IMAGE: reason", and
// status 1.
#ifndef ZERVAL_TOOLS_IMAGE_TOOL_H
#define ZERVAL_TOOLS_IMAGE_TOOL_H

#include <cstdio>
#include <exception>
#include <string>

#include "zerval_version.h"

// `work` takes the image's path and returns the tool's status.
template <typename Work>
int RunImageTool(const char *tool, int argc, char **argv, Work work)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("%s %s\n", tool, ZERVAL_VERSION);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s IMAGE (or --version)\n", tool);
        return 2;
    }
    try {
        return work(argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s: %s\n", tool, argv[1], e.what());
        return 1;
    }
}

#endif
