// The highest IRQL at which zerval.h lets a display driver call each entry,
// as its comments give it: lDllAttach below DISPATCH_LEVEL (it allocates
// paged pool); vValidateMode and SetMode at DISPATCH_LEVEL only with the
// record in non-paged memory, where this harness's records lie (the caller's
// page); the forwarded services at any IRQL their hook allows, DISPATCH_LEVEL
// the highest the machine models.  The kernel calls DriverEntry at
// PASSIVE_LEVEL.
#ifndef ZERVAL_HARNESS_ENTRY_IRQL_H
#define ZERVAL_HARNESS_ENTRY_IRQL_H

#include <string>

#include "image_backend.h"
#include "irql.h"

inline emu::Irql HighestIrqlFor(const std::string &exportName)
{
    if (exportName == "DriverEntry")
        return emu::Irql::Passive;
    if (exportName == kAttachExport)
        return emu::Irql::Apc;
    return emu::Irql::Dispatch;
}

#endif
