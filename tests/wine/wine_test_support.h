// What the Wine route's tests share: the build's parts of the route, a
// scratch folder that the runs use as TMPDIR, the check that nothing of a run
// is left, and the skip for a host that cannot run Wine.
#ifndef ZERVAL_TESTS_WINE_TEST_SUPPORT_H
#define ZERVAL_TESTS_WINE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace winetest {

extern const std::string kWine;     // zerval-wine
extern const std::string kImage;    // the GNU image
extern const std::string kTv;       // the example TV driver
extern const std::string kBase;     // the wine_prefix fixture's booted prefix
extern const std::string kDrivers;  // the tests' own services drivers
extern const std::string kSupport;  // share/zerval/wine of the build tree
extern const std::string kCheck;    // its host_i386.sh

std::vector<std::string> Lines(const std::string &text);
std::vector<std::string> FileLines(const std::string &path);

// The one line of `lines` that matches, or a failure naming what was looked for.
::testing::AssertionResult HasLine(const std::vector<std::string> &lines, const std::string &pattern);

// Sets an environment variable for the scope, and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A folder of the test's own, which the runs use as TMPDIR.
class Scratch {
public:
    Scratch() : tmpdir_("TMPDIR", folder_.dir()) {}
    const std::string &dir() const { return folder_.dir(); }

    // What a run left in the folder: nothing, once it ended (Wine's own
    // runtime folder, wine-XXXXXX on Debian, included).
    std::vector<std::string> leftOver() const;

private:
    ScratchFolder folder_;
    ScopedEnv tmpdir_;
};

// Processes whose WINEPREFIX lies under `folder`.
std::vector<std::string> WineProcessesUnder(const std::string &folder);

// Nothing left in the scratch folder, no Wine process of it running.
void ExpectNothingLeft(const Scratch &s);

// zerval-wine's arguments for a run in the drivers layout that copies the
// fixture's prefix: "--base-prefix", kBase, then the rest.
std::vector<std::string> WineArgs(const std::string &services, std::vector<std::string> more = {});

// Why Wine cannot run on this host (host_i386.sh's line), or nothing when it can.
std::optional<std::string> WhyWineCannotRun();

} // namespace winetest

// Skips the test, with the host's one line, where Wine cannot run.
#define ZERVAL_SKIP_WITHOUT_WINE()                                                                                    \
    do {                                                                                                              \
        if (const auto why = ::winetest::WhyWineCannotRun())                                                          \
            GTEST_SKIP() << *why;                                                                                     \
    } while (false)

#endif
