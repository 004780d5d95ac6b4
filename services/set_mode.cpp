// SetMode: has the services driver check a mode and then program it.
#include "query_from_record.h"

extern "C" ULONG ZERVAL_CALL SetMode(const VIDEO_MODE_INFORMATION *Mode, ULONG Option)
{
    if (Mode == nullptr)
        return ZERVAL_ERROR_INVALID_PARAMETER;

    ULONG flags = Mode->DriverSpecificAttributeFlags;
    // A Frequency of 0 or 1 asks for the hardware's default rate.
    if (Mode->Frequency <= 1)
        flags |= ZERVAL_QUERY_DEFAULT_REFRESH;
    ModeQuery query = QueryFromRecord(*Mode, flags);

    // Each hook is read from the table when it is called: the services driver
    // may replace or empty pfnSetMode while it answers the query.  An empty
    // slot is a refusal.
    const PFN_ZERVAL_QUERY_MODE queryMode = BiosDllExt.pfnQueryMode;
    if (queryMode == nullptr || !queryMode(&query, 0))
        return ZERVAL_ERROR_INVALID_PARAMETER;
    const PFN_ZERVAL_SET_MODE setMode = BiosDllExt.pfnSetMode;
    if (setMode == nullptr || !setMode(&query, 0, static_cast<UCHAR>(Option)))
        return ZERVAL_ERROR_INVALID_PARAMETER;
    return ZERVAL_NO_ERROR;
}
