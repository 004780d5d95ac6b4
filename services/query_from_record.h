// Builds the ModeQuery that vValidateMode and SetMode hand to the services
// driver from a mode record: the low 16 bits of its depth, resolution and
// frequency.
#ifndef ZERVAL_QUERY_FROM_RECORD_H
#define ZERVAL_QUERY_FROM_RECORD_H

#include "module_state.h"

inline ModeQuery QueryFromRecord(const VIDEO_MODE_INFORMATION &mode, ULONG flags)
{
    ModeQuery query;
    query.BitsPerPixel = static_cast<USHORT>(mode.BitsPerPlane);
    query.Width = static_cast<USHORT>(mode.VisScreenWidth);
    query.Height = static_cast<USHORT>(mode.VisScreenHeight);
    query.Refresh = static_cast<USHORT>(mode.Frequency);
    query.Attributes = 0;
    query.Flags = flags;
    return query;
}

#endif // ZERVAL_QUERY_FROM_RECORD_H
