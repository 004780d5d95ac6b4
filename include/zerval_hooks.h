/*
 * zerval_hooks.h - the hook table and the mode-query record that zerval.sys
 * shares with the adapter's hardware-services driver (kelv.sys).
 *
 * The module owns one DllExt.  On attach it clears it, sets Size and
 * pfnTvControl, and hands its address to the services driver's Attach, which
 * fills the remaining hooks.  Every hook is stdcall.  Where a hook's result is
 * a BOOLEAN only its low byte counts.  Usable from C (C89 on) and C++ (C++98
 * on); a services driver written in either gets the layout checks below.
 */
#ifndef ZERVAL_HOOKS_H
#define ZERVAL_HOOKS_H

#include <stddef.h>

#include "zerval_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One mode query: 16 bytes, little-endian, no gaps.  Depth comes first. */
typedef struct ModeQuery {
    USHORT BitsPerPixel; /* in: 8, 16, 24 or 32 */
    USHORT Width;        /* in */
    USHORT Height;       /* in */
    USHORT Refresh;      /* in: requested rate; out: low byte is the rate used */
    ULONG  Attributes;   /* out: driver-specific attributes */
    ULONG  Flags;        /* in: request flags, meaningful to the services driver */
} ModeQuery;

/* Flags the mode-list build sends: first probe, then the usability probe. */
#define ZERVAL_QUERY_ENUMERATE 2u
#define ZERVAL_QUERY_USABLE 0u
/* Set by SetMode when the record's Frequency is 0 or 1 (hardware default). */
#define ZERVAL_QUERY_DEFAULT_REFRESH 0x80000000u

typedef BOOLEAN (ZERVAL_CALL *PFN_ZERVAL_INIT)(_Out_writes_bytes_(76) PVOID Buffer76);
typedef BOOLEAN (ZERVAL_CALL *PFN_ZERVAL_QUERY_MODE)(_Inout_ ModeQuery *Query, ULONG Zero);
typedef BOOLEAN (ZERVAL_CALL *PFN_ZERVAL_SET_MODE)(_In_ ModeQuery *Query, ULONG Zero, ULONG Option);
typedef LONG    (ZERVAL_CALL *PFN_ZERVAL_PASS_THROUGH)(ULONG A, ULONG B, ULONG C);
typedef BOOLEAN (ZERVAL_CALL *PFN_ZERVAL_FUNCTION)(ULONG Value);
typedef ULONG   (ZERVAL_CALL *PFN_ZERVAL_GET_FREE_FRAMEBUFFER_SIZE)(VOID);
typedef VOID    (ZERVAL_CALL *PFN_ZERVAL_SET_INITIAL_VALUE)(VOID);
typedef ULONG   (ZERVAL_CALL *PFN_ZERVAL_TV_CONTROL)(ULONG A, ULONG B, ULONG C);

/* The hook table: a size followed by eight function addresses. */
typedef struct DllExt {
    ULONG                                Size;  /* sizeof(DllExt), set by the module */
    PFN_ZERVAL_INIT                      pfnInit;
    PFN_ZERVAL_QUERY_MODE                pfnQueryMode;
    PFN_ZERVAL_SET_MODE                  pfnSetMode;
    PFN_ZERVAL_PASS_THROUGH              pfnPassThrough;
    PFN_ZERVAL_FUNCTION                  pfnFunction;
    PFN_ZERVAL_GET_FREE_FRAMEBUFFER_SIZE pfnGetFreeFramebufferSize;
    PFN_ZERVAL_SET_INITIAL_VALUE         pfnSetInitialValue;
    PFN_ZERVAL_TV_CONTROL                pfnTvControl;  /* the TV driver's S_RMX_Control */
} DllExt;

/* Size of the buffer the module hands to pfnInit. */
#define ZERVAL_INIT_BUFFER_BYTES 76u

/* The services driver's entry, called with the table to fill. */
typedef ULONG (ZERVAL_CALL *PFN_ZERVAL_SERVICES_ATTACH)(ULONG_PTR Context, ULONG_PTR Param,
                                                        DllExt *Table, ULONG_PTR AttachParam);

#ifdef __cplusplus
}
#endif

/* The layouts, checked in C and C++ alike. */
ZERVAL_STATIC_ASSERT(sizeof(ModeQuery) == 16, ModeQuery_is_16_bytes);
ZERVAL_STATIC_ASSERT(offsetof(ModeQuery, BitsPerPixel) == 0, ModeQuery_BitsPerPixel_at_0);
ZERVAL_STATIC_ASSERT(offsetof(ModeQuery, Width) == 2, ModeQuery_Width_at_2);
ZERVAL_STATIC_ASSERT(offsetof(ModeQuery, Height) == 4, ModeQuery_Height_at_4);
ZERVAL_STATIC_ASSERT(offsetof(ModeQuery, Refresh) == 6, ModeQuery_Refresh_at_6);
ZERVAL_STATIC_ASSERT(offsetof(ModeQuery, Attributes) == 8, ModeQuery_Attributes_at_8);
ZERVAL_STATIC_ASSERT(offsetof(ModeQuery, Flags) == 12, ModeQuery_Flags_at_12);

/* Size in a pointer-sized slot, then eight hooks: 36 bytes on the 32-bit
   platform. */
ZERVAL_STATIC_ASSERT(sizeof(DllExt) == 9 * sizeof(void *), DllExt_is_9_slots);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnInit) == 1 * sizeof(void *), DllExt_pfnInit_in_slot_1);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnQueryMode) == 2 * sizeof(void *), DllExt_pfnQueryMode_in_slot_2);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnSetMode) == 3 * sizeof(void *), DllExt_pfnSetMode_in_slot_3);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnPassThrough) == 4 * sizeof(void *), DllExt_pfnPassThrough_in_slot_4);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnFunction) == 5 * sizeof(void *), DllExt_pfnFunction_in_slot_5);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnGetFreeFramebufferSize) == 6 * sizeof(void *),
                     DllExt_pfnGetFreeFramebufferSize_in_slot_6);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnSetInitialValue) == 7 * sizeof(void *), DllExt_pfnSetInitialValue_in_slot_7);
ZERVAL_STATIC_ASSERT(offsetof(DllExt, pfnTvControl) == 8 * sizeof(void *), DllExt_pfnTvControl_in_slot_8);
#if defined(_WIN32) && !defined(_WIN64)
ZERVAL_STATIC_ASSERT(sizeof(DllExt) == 36, DllExt_is_36_bytes);
#endif

#endif /* ZERVAL_HOOKS_H */
