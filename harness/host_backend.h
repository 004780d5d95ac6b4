// The host backend's extras: the entries it calls with what the display
// driver hands over by address, which a test may replace with stand-ins (a
// module with a fault of the test's own making) to see what the backend
// catches, as the image backend runs any image it is given.
#ifndef ZERVAL_HARNESS_HOST_BACKEND_H
#define ZERVAL_HARNESS_HOST_BACKEND_H

#include <memory>

#include "module_under_test.h"

struct HostEntries {
    decltype(&::lDllAttach) lDllAttach;
    decltype(&::vValidateMode) vValidateMode;
    decltype(&::SetMode) SetMode;
};

// The module's own.
HostEntries ModuleEntries();
// The host build with these entries; every other entry is the module's.
std::unique_ptr<ModuleUnderTest> MakeHostModule(const HostEntries &entries);
std::unique_ptr<ModuleUnderTest> MakeHostModule();

#endif
