// SetMode: has the services driver check a mode and then program it.
#include "query_from_record.h"

extern "C" ULONG ZERVAL_CALL SetMode(const VIDEO_MODE_INFORMATION *Mode, ULONG Option)
{
    if (Mode == nullptr)
        return ZERVAL_ERROR_INVALID_PARAMETER;
    // Both hooks are read before either is called, so that a services driver
    // that empties one while answering is never called through it.
    const PFN_ZERVAL_QUERY_MODE queryMode = BiosDllExt.pfnQueryMode;
    if (queryMode == nullptr)
        return ZERVAL_ERROR_INVALID_PARAMETER;
    const PFN_ZERVAL_SET_MODE setMode = BiosDllExt.pfnSetMode;
    if (setMode == nullptr)
        return ZERVAL_ERROR_INVALID_PARAMETER;

    ULONG flags = Mode->DriverSpecificAttributeFlags;
    // A Frequency of 0 or 1 asks for the hardware's default rate.
    if (Mode->Frequency <= 1)
        flags |= ZERVAL_QUERY_DEFAULT_REFRESH;

    ModeQuery query = QueryFromRecord(*Mode, flags);
    if (!queryMode(&query, 0))
        return ZERVAL_ERROR_INVALID_PARAMETER;
    if (!setMode(&query, 0, static_cast<UCHAR>(Option)))
        return ZERVAL_ERROR_INVALID_PARAMETER;
    return ZERVAL_NO_ERROR;
}
