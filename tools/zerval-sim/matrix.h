// The mode matrix: per depth, the catalogue's resolutions down and its rates
// across, each cell saying what became of that combination at the last
// attach, and why an empty cell is empty.
#ifndef ZERVAL_SIM_TOOL_MATRIX_H
#define ZERVAL_SIM_TOOL_MATRIX_H

#include <cstddef>

#include "module_under_test.h"
#include "services_calls.h"

// attachStart: where the last attach's calls begin.
void PrintMatrix(ModuleUnderTest &module, CallMark attachStart);

#endif
