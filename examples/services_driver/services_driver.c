/*
 * The shape of a hardware-services driver's side of zerval_hooks.h, in C89 as
 * older driver kits compile it: its Attach fills the hook table that
 * zerval.sys hands over.  Built, not run: it proves that the header, with its
 * layout checks, compiles for a services driver in plain C.
 */
#include <ntdef.h>
#include <miniport.h>

#include "zerval_hooks.h"

static BOOLEAN ZERVAL_CALL Init(PVOID Buffer76)
{
    UCHAR *byte = (UCHAR *)Buffer76;
    ULONG i;
    for (i = 0; i < ZERVAL_INIT_BUFFER_BYTES; ++i)
        byte[i] = 0;
    return TRUE;
}

/* Accepts every mode at the rate asked for, with no attributes. */
static BOOLEAN ZERVAL_CALL QueryMode(ModeQuery *Query, ULONG Zero)
{
    (void)Zero;
    Query->Attributes = 0;
    return TRUE;
}

static BOOLEAN ZERVAL_CALL SetMode(ModeQuery *Query, ULONG Zero, ULONG Option)
{
    (void)Zero;
    (void)Option;
    return Query->BitsPerPixel != 0;
}

/* Exported as _Attach@16: the services driver's entry that zerval.sys calls. */
__declspec(dllexport) ULONG ZERVAL_CALL Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table,
                                               ULONG_PTR AttachParam)
{
    (void)Context;
    (void)Param;
    (void)AttachParam;
    Table->pfnInit = Init;
    Table->pfnQueryMode = QueryMode;
    Table->pfnSetMode = SetMode;
    return 0;
}
