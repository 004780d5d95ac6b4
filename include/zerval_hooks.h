/*
 * zerval_hooks.h - the hook table and the mode-query record that zerval.sys
 * shares with the adapter's hardware-services driver (kelv.sys), and the
 * entries it imports from the services driver and the TV driver (rmx.sys).
 *
 * Every entry and every hook is stdcall.  Where a hook's result is a
 * BOOLEAN only its low byte counts (0x100 is FALSE).  Usable from C (C89 on)
 * and C++ (C++98 on); a sibling driver written in either gets the layout
 * checks below.  The comments say what a sibling driver may rely on; each
 * attach goes like this:
 *
 *  1. The TV driver's AttachRMX(Context, Param); its result is not examined.
 *  2. The services driver's Attach(Context, Param, Table, AttachParam), with
 *     the table wiped: Size 36 (sizeof(DllExt)), pfnTvControl the TV driver's
 *     S_RMX_Control, every other slot 0.  Its result is not examined.
 *     Attach fills the hooks.  pfnInit, pfnQueryMode and pfnSetMode are
 *     required: when any of them is still empty on return, the attach fails
 *     (the table is wiped and lDllAttach answers FALSE without calling
 *     pfnInit).  The other four are optional: the entry behind each tests it
 *     at every call and answers a default when it is empty.  The services
 *     driver may keep the table's address; every later call reads the hooks
 *     from it at the moment of the call.
 *  3. pfnInit(Buffer): once, right after Attach, with the 76 bytes of
 *     ZERVAL_INIT_BUFFER_BYTES in zerval.sys's frame, zeroed before the call
 *     so that nothing left on the kernel stack by earlier calls reaches
 *     another driver; whatever the hook writes there is discarded.  FALSE:
 *     the whole table is wiped (Size too), lDllAttach answers FALSE, and the
 *     mode list published by an earlier attach stays published.
 *  4. The mode-list build, through pfnQueryMode (see "The mode-list build").
 *
 * A record or buffer handed to a hook lies in the caller's stack frame: the
 * hook may read and write its bytes (16 for a ModeQuery, 76 for the init
 * buffer) and nothing around them.
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
    USHORT Refresh;      /* in: requested rate; out: its low byte is the rate
                            the services driver will use; the high byte is
                            never examined */
    ULONG  Attributes;   /* out: driver-specific attributes.  In: 0, except in
                            the mode-list build's second probe, which hands
                            back what the first left.  Only the upper 16 bits
                            are published (DriverSpecificAttributeFlags =
                            Attributes >> 16): 0x00000001 comes out as 0 */
    ULONG  Flags;        /* in: request flags, meaningful to the services driver */
} ModeQuery;

/*
 * The mode-list build (at every successful attach).  For each row of
 * modetable in table order (the first modeTableSize rows; a larger size
 * counts as 62) and each entry of frequencytable in table order (the first
 * freqTableSize; a larger size counts as 16), the rate being the entry's low
 * 16 bits:
 *  - rows whose Disabled is non-zero are skipped, and so are the 24-bit rows
 *    640x480, 800x600 and every 720-pixel-wide one;
 *  - the 24-bit 1024x768 row is probed at 60 Hz only;
 *  - first probe: Flags ZERVAL_QUERY_ENUMERATE (2).  The mode is kept when
 *    pfnQueryMode answers TRUE and the low byte of the returned Refresh
 *    equals the rate, all 8 bits: 188 (60 with bit 7 set) for 60 drops it,
 *    and a rate of 256 or more never matches;
 *  - second probe of a kept mode: the same depth, size and rate, Flags
 *    ZERVAL_QUERY_USABLE (0), Attributes as the first probe left them.  TRUE
 *    at the same rate publishes the mode usable (Length 80), anything else
 *    unusable (Length 0);
 *  - published, in the order found: width, height, depth, Frequency (the low
 *    byte of the first answer's Refresh) and DriverSpecificAttributeFlags
 *    (its Attributes >> 16).
 * Counts with the shipped tables: a services driver that accepts everything
 * at the rate asked publishes 913 modes (ORVX_NUM_MODES 916); one that
 * answers every query at 60 Hz, 58 (one per probed row, at 60 Hz); one that
 * refuses everything, 0 (the attach still succeeds).
 *
 * Later calls: vValidateMode hands pfnQueryMode the record's depth, size and
 * rate (low 16 bits of each) with the display driver's Flags, and marks the
 * record usable when the answer is TRUE and the low 7 bits of the returned
 * Refresh equal the low byte of its Frequency.  SetMode does the same with
 * Flags = the record's DriverSpecificAttributeFlags (bit 31,
 * ZERVAL_QUERY_DEFAULT_REFRESH, set as well when Frequency is 0 or 1), does
 * not compare the rate, and on TRUE calls pfnSetMode with the query exactly
 * as pfnQueryMode left it, 0, and the low byte of its option.
 */

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

/* The hook table: a size followed by eight function addresses.  Required:
   pfnInit, pfnQueryMode, pfnSetMode.  Optional, each with the answer of the
   entry behind it when empty: pfnPassThrough (MeltoBiosDll: FALSE),
   pfnFunction (Orvalen_Function: FALSE), pfnGetFreeFramebufferSize
   (GetFreeFramebufferSize: 0), pfnSetInitialValue (BiosDllSetInitialValue:
   1, as always).  A negative pfnPassThrough answer hands the request, the
   same three values, to pfnTvControl. */
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

/* The entries zerval.sys imports, as function types.  Declare a sibling
   driver's entry with its type before defining it, so that the compiler
   checks the calling convention and the arguments:
       ZERVAL_SERVICES_ATTACH Attach;          (kelv.sys, _Attach@16)
       ZERVAL_TV_ATTACH AttachRMX;             (rmx.sys, _AttachRMX@8)
       ZERVAL_TV_CONTROL S_RMX_Control;        (rmx.sys, _S_RMX_Control@12)
   Their results are not examined; S_RMX_Control's low byte is what
   MeltoBiosDll answers when the request reaches the TV driver. */
typedef ULONG ZERVAL_CALL ZERVAL_SERVICES_ATTACH(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table,
                                                 ULONG_PTR AttachParam);
typedef ULONG ZERVAL_CALL ZERVAL_TV_ATTACH(ULONG_PTR Context, ULONG_PTR Param);
typedef ULONG ZERVAL_CALL ZERVAL_TV_CONTROL(ULONG A, ULONG B, ULONG C);
typedef ZERVAL_SERVICES_ATTACH *PFN_ZERVAL_SERVICES_ATTACH;

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
