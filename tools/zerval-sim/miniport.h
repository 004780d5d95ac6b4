// A display driver that registered a miniport with VideoPortInitialize, run
// as the video port runs it once its DriverEntry returned: HwVidFindAdapter
// (where such a driver attaches zerval.sys), HwVidInitialize, then the
// requests a display driver sends as it starts - the number of modes and the
// modes, the mode to set (the first reported one zerval.sys published, the
// one --display-mode names, or each in turn), the current mode, the frame
// buffer mapped and unmapped, and a reset.  Each request's answer is a line;
// the modes it reports are shown beside the ones zerval.sys published, with
// the first difference.  Which records it reports and how it numbers them
// are the miniport's own choice: shown, not judged.
#ifndef ZERVAL_SIM_TOOL_MINIPORT_H
#define ZERVAL_SIM_TOOL_MINIPORT_H

#include <string>
#include <vector>

#include "module_under_test.h"
#include "options.h"
#include "trace.h"

// The lines of the run, in order, into `lines` as they come (so that a run
// cut short keeps what came before); each call into the miniport goes
// through the tracer.  A rule the miniport breaks throws the machine's
// Fault, naming it.
void RunMiniport(ModuleUnderTest &module, const Inputs &inputs, Tracer &tracer, std::vector<std::string> &lines);

#endif
