// The checked-in figures a run is compared with.
#ifndef ZERVAL_BENCH_BASELINE_H
#define ZERVAL_BENCH_BASELINE_H

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One figure: a name such as "lDllAttach[accept-all].instructions" and its value.
struct Value {
    std::string name;
    uint64_t value = 0;
};

// Lines of "name<TAB>value"; '#' starts a comment.  Throws on a malformed line.
std::vector<Value> ReadBaseline(const std::string &path);
void WriteBaseline(const std::string &path, const std::vector<Value> &values);

struct Drift {
    std::string name;
    uint64_t baseline = 0;
    uint64_t measured = 0;
    bool missing = false;  // in the baseline, not measured
};

// Figures that grew by more than `tolerance` (0.02: 2%), and those that
// shrank by more, so that the baseline can be brought down.
struct Comparison {
    std::vector<Drift> regressions;
    std::vector<Drift> improvements;
    std::vector<std::string> unbaselined;  // measured, not in the baseline
};
Comparison Compare(const std::vector<Value> &baseline, const std::vector<Value> &measured, double tolerance);

} // namespace bench

#endif
