// vValidateMode: asks the services driver again whether a mode record is
// usable and writes the answer into its Length.
#include "query_from_record.h"

extern "C" VOID ZERVAL_CALL vValidateMode(VIDEO_MODE_INFORMATION *Mode, ULONG Flags)
{
    if (Mode == nullptr)
        return;

    // The query lives in this frame; an empty pfnQueryMode is a refusal.
    ModeQuery query = QueryFromRecord(*Mode, Flags);
    const PFN_ZERVAL_QUERY_MODE queryMode = BiosDllExt.pfnQueryMode;
    // Bit 7 of the answered rate does not count here, so a record whose
    // Frequency has a low byte of 128 or more never validates.
    const bool usable = queryMode != nullptr && queryMode(&query, 0) &&
                        (static_cast<UCHAR>(query.Refresh) & 0x7F) == static_cast<UCHAR>(Mode->Frequency);
    Mode->Length = usable ? ZERVAL_MODE_USABLE : ZERVAL_MODE_UNUSABLE;
}
