// zerval-sim's --coverage FILE: the source lines each neighbour image with
// debug information ran, as an lcov tracefile (TN, SF, FN, FNDA, DA, LF, LH,
// one record per source file; genhtml renders it).  Every instruction a
// neighbour image runs is counted by address as it runs (the machine
// watches each of theirs); at the end each image's counts go to the lines
// of its line table: a line counts the most times any of its instructions
// ran, a function the times its entry ran, and a line with code that never
// ran counts 0.
#ifndef ZERVAL_SIM_TOOL_COVERAGE_H
#define ZERVAL_SIM_TOOL_COVERAGE_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "line_table.h"
#include "machine.h"

class Coverage {
public:
    // Counts, from now on, what the machine's neighbour images run.
    explicit Coverage(emu::Machine &machine);
    ~Coverage();
    Coverage(const Coverage &) = delete;
    Coverage &operator=(const Coverage &) = delete;

    // Writes the tracefile to `file`.  A neighbour image without debug
    // information is named in a warning; a file that cannot be written is a
    // ToolError.
    void write(const std::string &file) const;

private:
    emu::Machine &machine_;
    std::unordered_map<uint32_t, uint64_t> ran_;  // by guest address
};

// How often each source line (file, line) ran.
using LineCounts = std::map<std::pair<std::string, uint32_t>, uint64_t>;
// The tracefile's records for one image: the lines of its table with the
// counts `lines` gives (0 for the others), its functions with how often the
// instruction at their entry's RVA ran (`ranAt`).
std::string LcovRecords(const emu::LineTable &table, const LineCounts &lines,
                        const std::function<uint64_t(uint32_t)> &ranAt);

#endif
