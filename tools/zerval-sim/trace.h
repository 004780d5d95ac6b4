// zerval-sim's --trace: each entry the tool calls, and every call made while
// it ran - to the simulated neighbours and kernel (the call log) and, with
// real images loaded, between the images and from them to the simulation -
// in order, to stderr.  A call that faults still shows what happened up to
// the fault.
#ifndef ZERVAL_SIM_TOOL_TRACE_H
#define ZERVAL_SIM_TOOL_TRACE_H

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "module_under_test.h"
#include "pe_image.h"

class Tracer {
public:
    Tracer(ModuleUnderTest &m, bool on, std::vector<std::string> entries)
        : m_(m), on_(on), entries_(std::move(entries))
    {
    }
    template <typename F> auto call(const std::string &entry, const std::string &args, F &&f)
    {
        const bool on = on_ && (entries_.empty() || std::find(entries_.begin(), entries_.end(), entry) != entries_.end());
        if (on)
            begin(entry, args);
        try {
            if constexpr (std::is_void_v<decltype(f())>) {
                f();
                end(on, entry, "returned");  // a VOID entry: no result to show
            } else {
                auto result = f();
                end(on, entry, "= " + pe::Hex(static_cast<uint32_t>(result)));
                return result;
            }
        } catch (...) {
            end(on, entry, "stopped");
            throw;
        }
    }

private:
    void begin(const std::string &entry, const std::string &args);
    // Prints (when on) what was called since begin, then the entry's outcome.
    void end(bool on, const std::string &entry, const std::string &outcome);

    ModuleUnderTest &m_;
    bool on_;
    std::vector<std::string> entries_;
    size_t seen_ = 0;          // the call log's calls already shown (or passed over)
    size_t crossingsSeen_ = 0;  // and the machine's crossings
};

#endif
