// zerval-bench: the figures of both images (GNU and MSVC dialect) under the
// emulator, side by side, each checked against the budget and the checked-in
// baseline.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "baseline.h"
#include "build_products.h"
#include "figures.h"
#include "image_backend.h"
#include "zerval_version.h"

namespace {

// The budget the image is held to.  The ratio to the floor is reported, not
// held: the floor is a hand-counted model, and the module's code is not bent
// to it.
constexpr uint64_t kAttachInstructions = 70000;
// The MSVC image: clang-cl's code for the probe loop takes about two
// instructions more per accepted combination than gcc's.
constexpr uint64_t kAttachInstructionsMsvc = 72000;
constexpr uint32_t kStackBytes = 176;
constexpr uint64_t kImageBytes = 8 * 1024;
constexpr uint32_t kAllocationsPerAttach = 2;
constexpr uint64_t kValidateInstructions = 40;
constexpr uint64_t kSetModeInstructions = 52;
constexpr double kTolerance = 0.02;

const bench::EntryRun &Run(const bench::Figures &f, const std::string &entry, const std::string &scenario = "")
{
    for (const bench::EntryRun &r : f.runs)
        if (r.entry == entry && (scenario.empty() || r.scenario == scenario))
            return r;
    throw std::runtime_error("no run of " + entry);
}

void PrintTable(const bench::Figures &f)
{
    std::printf("%-24s %-32s %12s %8s %9s %6s %10s %6s\n", "entry", "scenario", "instructions", "stack B",
                "calls out", "allocs", "pool bytes", "modes");
    for (const bench::EntryRun &r : f.runs) {
        std::printf("%-24s %-32s %12llu %8u %9u", r.entry.c_str(), r.scenario.c_str(),
                    static_cast<unsigned long long>(r.instructions), r.stackBytes, r.callsOut);
        if (r.entry == "lDllAttach")
            std::printf(" %6u %10llu %6u", r.allocations, static_cast<unsigned long long>(r.allocatedBytes), r.modes);
        std::printf("\n");
    }
    std::printf("\nimage file: %llu bytes\n", static_cast<unsigned long long>(f.imageBytes));

    const bench::AttachWork &w = f.acceptAllWork;
    const bench::Floor &fl = f.floor;
    std::printf("\nfloor of the accept-all attach (least i386 instructions any correct image executes):\n");
    auto item = [](uint64_t count, const char *what, uint64_t each, uint64_t total) {
        std::printf("  %5llu %-24s x %2llu = %6llu\n", static_cast<unsigned long long>(count), what,
                    static_cast<unsigned long long>(each), static_cast<unsigned long long>(total));
    };
    using namespace bench::cost;
    item(w.rowsChecked, "rows checked", kRow, fl.perRow);
    item(uint64_t{w.rowsProbed} * w.rates, "rate iterations", kRateIteration, fl.perRateIteration);
    item(uint64_t{w.rowsProbed} * w.rates - w.firstProbes, "rates passed over", kRateSkipped, fl.perRateSkipped);
    item(w.firstProbes, "first probes", kFirstProbe, fl.perFirstProbe);
    item(w.secondProbes, "accepted answers copied", kAnswerCopy, fl.perAnswerCopy);
    item(w.secondProbes, "second probes", kSecondProbe, fl.perSecondProbe);
    item(w.published, "published records", kPublishedRecord, fl.perPublishedRecord);
    std::printf("        calls and globals outside the loops = %6llu\n", static_cast<unsigned long long>(fl.fixed));
    const bench::EntryRun &all = Run(f, "lDllAttach", "accept-all");
    std::printf("  floor %llu, measured %llu: ratio %.3f\n", static_cast<unsigned long long>(fl.total),
                static_cast<unsigned long long>(all.instructions),
                static_cast<double>(all.instructions) / static_cast<double>(fl.total));
    std::printf("  per accepted combination (rate iteration, both probes, the copy, its record): %.1f measured, "
                "%llu floor\n",
                f.perAcceptedCombination,
                static_cast<unsigned long long>(kRateIteration + kFirstProbe + kAnswerCopy + kSecondProbe +
                                                kPublishedRecord));
    std::printf("  per refused probe (rate iteration and probe): %.1f measured, %llu floor\n", f.perRefusedProbe,
                static_cast<unsigned long long>(kRateIteration + kRefusedProbe));
}

// Every budget line, printed; false when any is broken.
bool CheckBudget(const bench::Figures &f, uint64_t attachInstructions)
{
    bool ok = true;
    auto line = [&ok](bool pass, const std::string &what) {
        std::printf("  %-4s %s\n", pass ? "ok" : "OVER", what.c_str());
        ok = ok && pass;
    };
    std::printf("\nbudget:\n");
    const bench::EntryRun &all = Run(f, "lDllAttach", "accept-all");
    line(all.instructions <= attachInstructions,
         "accept-all lDllAttach " + std::to_string(all.instructions) + " <= " + std::to_string(attachInstructions) +
             " instructions");
    uint32_t deepest = 0;
    std::string where;
    for (const bench::EntryRun &r : f.runs)
        if (r.stackBytes > deepest) {
            deepest = r.stackBytes;
            where = r.entry + " (" + r.scenario + ")";
        }
    line(deepest <= kStackBytes, "deepest stack " + std::to_string(deepest) + " bytes, " + where + " <= " +
                                     std::to_string(kStackBytes));
    line(f.imageBytes <= kImageBytes, "image " + std::to_string(f.imageBytes) + " <= " + std::to_string(kImageBytes) + " bytes");
    for (const bench::EntryRun &r : f.runs)
        if (r.entry == "lDllAttach" && r.scenario.find("rates") == std::string::npos)
            line(r.allocations == kAllocationsPerAttach,
                 r.scenario + " lDllAttach: " + std::to_string(r.allocations) + " allocations, exactly 2");
    const uint64_t validate = Run(f, "vValidateMode").instructions;
    line(validate <= kValidateInstructions,
         "vValidateMode " + std::to_string(validate) + " <= " + std::to_string(kValidateInstructions) + " instructions");
    const uint64_t set = Run(f, "SetMode").instructions;
    line(set <= kSetModeInstructions,
         "SetMode " + std::to_string(set) + " <= " + std::to_string(kSetModeInstructions) + " instructions");
    return ok;
}

// One measured image: the name of its dialect ("gnu", "msvc"; empty for an
// image named on the command line) and its figures.
struct Measured {
    std::string dialect;
    std::string path;
    bench::Figures figures;
};

// Each entry's figures for every image, the images in columns.
void PrintSideBySide(const std::vector<Measured> &images)
{
    std::printf("%-24s %-32s", "entry", "scenario");
    for (const char *what : {"instr", "stack B", "calls"})
        for (const Measured &m : images)
            std::printf(" %12s", (std::string(what) + " " + m.dialect).c_str());
    std::printf("\n");
    const std::vector<bench::EntryRun> &rows = images.front().figures.runs;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::printf("%-24s %-32s", rows[i].entry.c_str(), rows[i].scenario.c_str());
        for (const Measured &m : images)
            std::printf(" %12llu", static_cast<unsigned long long>(m.figures.runs[i].instructions));
        for (const Measured &m : images)
            std::printf(" %12u", m.figures.runs[i].stackBytes);
        for (const Measured &m : images)
            std::printf(" %12u", m.figures.runs[i].callsOut);
        std::printf("\n");
    }
    std::printf("%-57s", "image file bytes");
    for (const Measured &m : images)
        std::printf(" %12llu", static_cast<unsigned long long>(m.figures.imageBytes));
    std::printf("\n");
}

// Baseline names carry the image's dialect: "gnu:lDllAttach[accept-all].instructions".
std::vector<bench::Value> Flatten(const std::vector<Measured> &images)
{
    std::vector<bench::Value> values;
    for (const Measured &m : images)
        for (bench::Value v : bench::Flatten(m.figures)) {
            v.name = m.dialect + ":" + v.name;
            values.push_back(v);
        }
    return values;
}

bool CheckBaseline(const std::string &path, const std::vector<bench::Value> &measured)
{
    const bench::Comparison c = bench::Compare(bench::ReadBaseline(path), measured, kTolerance);
    std::printf("\nagainst %s (2%% tolerance):", path.c_str());
    if (c.regressions.empty() && c.improvements.empty() && c.unbaselined.empty())
        std::printf(" every figure within\n");
    else
        std::printf("\n");
    for (const bench::Drift &d : c.regressions) {
        if (d.missing)
            std::printf("  REGRESSION %s: in the baseline, no longer measured\n", d.name.c_str());
        else
            std::printf("  REGRESSION %s: %llu, baseline %llu (+%.1f%%)\n", d.name.c_str(),
                        static_cast<unsigned long long>(d.measured), static_cast<unsigned long long>(d.baseline),
                        100.0 * (static_cast<double>(d.measured) / static_cast<double>(d.baseline) - 1));
    }
    for (const bench::Drift &d : c.improvements)
        std::printf("  better     %s: %llu, baseline %llu; bring the baseline down\n", d.name.c_str(),
                    static_cast<unsigned long long>(d.measured), static_cast<unsigned long long>(d.baseline));
    for (const std::string &name : c.unbaselined)
        std::printf("  new        %s: not in the baseline\n", name.c_str());
    return c.regressions.empty();
}

} // namespace

int main(int argc, char **argv)
{
    CLI::App app{"Figures of zerval.sys under the emulator, both images side by side: instructions and stack per "
                 "entry, pool use, image size, the floor of an attach; checked against the budget and a baseline."};
    std::string image;
    std::string baseline;
    std::string writeTo;
    app.add_option("--image", image, "measure this driver image only (no baseline comparison)");
    const CLI::Option *baselineGiven =
        app.add_option("--baseline", baseline, "figures to compare with (empty: no comparison)")
            ->default_str("bench/baseline.txt in this build tree, or ZERVAL_BASELINE");
    app.add_option("--write-baseline", writeTo, "write this run's figures as the new baseline");
    app.set_version_flag("--version", std::string("zerval-bench ") + ZERVAL_VERSION, "the release, one line");
    CLI11_PARSE(app, argc, argv);

    try {
        // The build tree's own baseline unless one is named.
        if (baselineGiven->count() == 0 && image.empty() && writeTo.empty())
            baseline = products::Existing(products::kBaseline, "--baseline");
        std::vector<Measured> images;
        if (image.empty()) {
            for (ImageDialect dialect : kImageDialects) {
                const std::string path = BuiltImagePath(dialect);
                images.push_back({DialectName(dialect), path, bench::Measure(path)});
            }
        } else {
            images.push_back({"image", image, bench::Measure(image)});
            baseline.clear();
        }
        for (const Measured &m : images)
            std::printf("zerval.sys (%s): %s\n", m.dialect.c_str(), m.path.c_str());
        std::printf("\n");
        PrintSideBySide(images);
        bool ok = true;
        for (const Measured &m : images) {
            std::printf("\n--- %s: %s\n\n", m.dialect.c_str(), m.path.c_str());
            PrintTable(m.figures);
            ok = CheckBudget(m.figures, m.dialect == "msvc" ? kAttachInstructionsMsvc : kAttachInstructions) && ok;
        }
        const std::vector<bench::Value> values = Flatten(images);
        if (!writeTo.empty()) {
            bench::WriteBaseline(writeTo, values);
            std::printf("\nbaseline written to %s\n", writeTo.c_str());
        } else if (!baseline.empty()) {
            ok = CheckBaseline(baseline, values) && ok;
        }
        return ok ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zerval-bench: %s\n", e.what());
        return 2;
    }
}
