/*
 * zerval_types.h - calling convention, import markers and base types shared by
 * zerval.h (display driver side) and zerval_hooks.h (services driver side).
 *
 * On Windows the includer's DDK headers provide ULONG, BOOLEAN and the other
 * base types: include ntddk.h, or ntdef.h and miniport.h, before this file.
 * This file includes ntddvdeo.h itself, for VIDEO_MODE_INFORMATION.  Host
 * (Linux) builds use the host definitions of the same types.
 */
#ifndef ZERVAL_TYPES_H
#define ZERVAL_TYPES_H

/* ZERVAL_VERSION, the release these headers come with. */
#include "zerval_version.h"

#if defined(_WIN32)
#include <ntddvdeo.h>
#else
#include "zerval_host_types.h"
#endif

/* Every export and every hook is stdcall on the 32-bit platform. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZERVAL_CALL __stdcall
#else
#define ZERVAL_CALL
#endif

/* A driver that imports from zerval.sys sees every export as dllimport;
   the module itself (ZERVAL_BUILDING_MODULE) and host builds do not. */
#if defined(_WIN32) && !defined(ZERVAL_BUILDING_MODULE)
#define ZERVAL_IMPORT __declspec(dllimport)
#else
#define ZERVAL_IMPORT
#endif

/* A layout check that every driver compiler accepts, C89 and C++98
   included: an array type whose size is -1 when the condition fails.  `name`
   is an identifier that says what is checked and appears in the compiler's
   message; each name is used once. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define ZERVAL_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#else
#define ZERVAL_STATIC_ASSERT(cond, name) typedef char zerval_layout_##name[(cond) ? 1 : -1]
#endif

/* Annotations for the driver kit's code analysis: the buffers each entry
   reads and writes, and the IRQL it needs.  Where the kit (or the host)
   lacks them they compile to nothing. */
#ifndef _In_
#define _In_
#endif
#ifndef _Inout_
#define _Inout_
#endif
#ifndef _In_opt_
#define _In_opt_
#endif
#ifndef _Inout_opt_
#define _Inout_opt_
#endif
#ifndef _Out_opt_
#define _Out_opt_
#endif
#ifndef _Out_writes_bytes_
#define _Out_writes_bytes_(size)
#endif
#ifndef _IRQL_requires_max_
#define _IRQL_requires_max_(irql)
#endif

#endif /* ZERVAL_TYPES_H */
