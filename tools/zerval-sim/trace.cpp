#include "trace.h"

#include <iostream>

#include "crossing.h"
#include "image_backend.h"

void Tracer::begin(const std::string &entry, const std::string &args) { std::cerr << "> " << entry << args << "\n"; }

void Tracer::end(bool on, const std::string &entry, const std::string &outcome)
{
    const auto &calls = m_.log.calls();
    const emu::Machine *machine = MachineOf(m_);
    static const std::vector<emu::Crossing> none;
    const std::vector<emu::Crossing> &crossings = machine != nullptr ? machine->crossings() : none;
    size_t next = seen_;
    // The log's calls up to `upTo`, each after `prefix`.
    auto logged = [&](size_t upTo, const std::string &prefix) {
        for (; next < upTo && next < calls.size(); ++next)
            std::cerr << prefix << sim::Describe(calls[next]) << "\n";
    };
    // Where in its sources a crossing ran, when its image has debug
    // information: " [KelvQueryMode at services_driver.c:68]".
    auto source = [&](const emu::Crossing &c) {
        const std::string line = machine != nullptr ? machine->sourceLineAt(c.at) : "";
        return line.empty() ? line : " [" + line + "]";
    };
    for (size_t i = crossingsSeen_; on && i < crossings.size(); ++i) {
        const emu::Crossing &c = crossings[i];
        logged(c.logIndex, "    ");
        const std::string indent = "    " + std::string(2 * static_cast<size_t>(c.depth), ' ');
        // A simulated routine: after the caller, where it called from; a call
        // into an image: at the end, where it landed.
        if (!c.said.empty())
            std::cerr << indent << c.caller << source(c) << " -> " << c.said << "\n";  // a routine the log does not show
        else if (c.callee.empty())
            logged(c.logEnd, indent + c.caller + source(c) + " -> ");  // a simulated routine an image called
        else
            std::cerr << indent << emu::Describe(c) << source(c) << "\n";
    }
    if (on) {
        logged(calls.size(), "    ");
        std::cerr << "< " << entry << " " << outcome << "\n";
    }
    seen_ = calls.size();
    crossingsSeen_ = crossings.size();
}
