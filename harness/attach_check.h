// What an attach must leave behind, judged from outside the module: the calls
// it made, the pool's books and the published list.  Shared by the behaviour
// tests and the fuzzer.
#ifndef ZERVAL_HARNESS_ATTACH_CHECK_H
#define ZERVAL_HARNESS_ATTACH_CHECK_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "module_under_test.h"

// The module as it stood just before an attach.
struct AttachScene {
    std::vector<ModeTableEntry> rows;  // all 62, and the size the display driver wrote
    uint32_t rowCount = 0;
    std::vector<uint32_t> rates;       // all 16, and their size
    uint32_t rateCount = 0;
    uint64_t listAddress = 0;          // the list published then, and its records
    uint32_t listCount = 0;
    std::vector<VIDEO_MODE_INFORMATION> list;
    size_t logStart = 0;
    size_t allocationStart = 0;
};

AttachScene BeforeAttach(ModuleUnderTest &m);

// Every published array the module has made, across attaches: the only
// allocations that may stay live.
struct PublishedArrays {
    std::set<uint64_t> addresses;
};

// Checks the attach that followed `scene` and returned `result`; adds its
// published array to `arrays`.  Returns what is wrong, empty when nothing is:
// - a failed attach made no probe and no allocation and left the list alone;
// - every record handed to a hook lay in the caller's stack frame;
// - a build makes exactly the candidate list and the published array, both
//   PagedPool "Bdll", the candidate list rows x rates x 16 bytes (16 when
//   empty) and always freed, the array (N + 3) x 80 bytes;
// - the probes run in table then rate order over the rows not skipped or
//   disabled, each first probe followed by a second exactly when it was
//   answered TRUE at the requested rate, carrying the first answer's
//   Attributes; when pfnQueryMode is found empty after the build, the probes
//   may stop early, and every probe after the last one made counts as
//   refused;
// - ORVX_NUM_MODES = NumModesFromBIOSDLL + 3, and every published record is
//   the first answer of an accepted combination with the second answer's mark;
// - when the build stops short (an allocation refused), NumModesFromBIOSDLL is
//   0 and the earlier list is still published and unchanged;
// - nothing is live in the pool but published arrays.
std::vector<std::string> CheckAttach(ModuleUnderTest &m, const AttachScene &scene, uint8_t result,
                                     PublishedArrays &arrays);

// Attaches with the usual arguments and checks it; the result is that of
// CheckAttach.
std::vector<std::string> AttachAndCheck(ModuleUnderTest &m, PublishedArrays &arrays);

std::string Join(const std::vector<std::string> &problems);

#endif
