// zerval-tooling-bench: what the test tooling spends on the emulated image, in
// CPU time of this process: one accept-all attach on a machine that is
// already loaded and has run it before (warm, as the behaviour suite and the
// differential fuzzer's image side do), and one on a machine made for it
// (fresh: load, bind, attach).  The median of several rounds is printed, with
// host CPU time per guest instruction.  The differential fuzzer's rate is
// measured by bench/tooling-bench.sh, which runs this first.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "image_backend.h"

namespace {

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU milliseconds per attach, `rounds` rounds of `perRound` attaches each.
struct Figure {
    double ms = 0;
    uint64_t guestInstructions = 0;
};

Figure Warm(const pe::Image &image, int rounds, int perRound)
{
    std::unique_ptr<ModuleUnderTest> m = MakeImageModule(image);
    emu::Machine &machine = *MachineOf(*m);
    std::vector<double> samples;
    uint64_t instructions = 0;
    for (int r = -1; r < rounds; ++r) {  // round -1 warms the machine up
        double spent = 0;
        for (int i = 0; i < perRound; ++i) {
            machine.reset();
            m->log.clear();
            m->pool.clear();
            const double start = CpuSeconds();
            if (m->attach() != TRUE)
                throw std::runtime_error("the attach failed");
            spent += CpuSeconds() - start;
            instructions = machine.lastCall().instructions;
        }
        if (r >= 0)
            samples.push_back(spent * 1e3 / perRound);
    }
    return Figure{Median(samples), instructions};
}

Figure Fresh(const pe::Image &image, int rounds, int perRound)
{
    std::vector<double> samples;
    uint64_t instructions = 0;
    for (int r = 0; r < rounds; ++r) {
        double spent = 0;
        for (int i = 0; i < perRound; ++i) {
            const double start = CpuSeconds();
            std::unique_ptr<ModuleUnderTest> m = MakeImageModule(image);
            if (m->attach() != TRUE)
                throw std::runtime_error("the attach failed");
            spent += CpuSeconds() - start;
            instructions = MachineOf(*m)->lastCall().instructions;
        }
        samples.push_back(spent * 1e3 / perRound);
    }
    return Figure{Median(samples), instructions};
}

void Print(const char *what, const Figure &f)
{
    std::printf("%-38s %8.3f ms CPU  (%llu guest instructions, %.0f ns per guest instruction)\n", what, f.ms,
                static_cast<unsigned long long>(f.guestInstructions), f.ms * 1e6 / static_cast<double>(f.guestInstructions));
}

} // namespace

// With `warm` or `fresh` only that figure is measured, for a profiler.
int main(int argc, char **argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    if (argc > 2 || (only != "" && only != "warm" && only != "fresh")) {
        std::fprintf(stderr, "usage: zerval-tooling-bench [warm|fresh]\n");
        return 2;
    }
    try {
        for (const ImageDialect dialect : kImageDialects) {
            const pe::Image &image = BuiltImage(dialect);
            std::printf("%s image:\n", DialectName(dialect).c_str());
            if (only != "fresh")
                Print("  warm accept-all attach", Warm(image, 7, 40));
            if (only != "warm")
                Print("  fresh machine + accept-all attach", Fresh(image, 7, 20));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zerval-tooling-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
