// zerval-sim: loads zerval.sys into the emulator, attaches it to a simulated
// adapter, and shows what a display driver would see.  Every error is one
// line on stderr and exit status 1; what the module answers, refusals
// included, is output.  Output that cannot be written (a full device) is an
// error too.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "error.h"
#include "options.h"
#include "tool_error.h"

namespace {

[[noreturn]] void Die(const std::string &message)
{
    std::cerr << "zerval-sim: error: " << message << "\n";
    std::exit(1);
}

// Whatever stdout still holds, written out; false (with errno) when any of
// the run's output could not be written.
bool OutputWritten()
{
    errno = 0;
    std::cout.flush();  // through stdout, whose buffer it flushes
    const int fromCout = errno;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = fromCout != 0 ? fromCout : errno;
    const bool ok = flushed && !std::ferror(stdout) && std::cout.good();
    errno = error;
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    int status = 1;
    try {
        const Options options = ParseOptions(argc, argv);
        status = CommandOf(options.request.command).run(options);
    } catch (const Answered &a) {
        std::cout << a.text;
        status = 0;
    } catch (const UsageError &e) {
        Die(e.what());
    } catch (const ToolError &e) {
        Die(e.what());
    } catch (const emu::Error &e) {
        Die(std::string("the emulator failed: ") + e.what());
    } catch (const std::exception &e) {
        // Faults the emulator or the pool found in the module.
        Die(std::string("the module faulted: ") + e.what());
    }
    if (!OutputWritten())
        Die(std::string("standard output: cannot write it (") + (errno != 0 ? std::strerror(errno) : "write error") + ")");
    return status;
}
