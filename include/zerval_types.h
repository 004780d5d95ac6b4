/*
 * zerval_types.h - calling convention, import markers and base types shared by
 * zerval.h (display driver side) and zerval_hooks.h (services driver side).
 *
 * On Windows the includer's DDK headers provide ULONG, BOOLEAN and the
 * video miniport records; include ntddk.h or miniport.h before this file.
 * Host (Linux) builds use the host definitions of the same types.
 */
#ifndef ZERVAL_TYPES_H
#define ZERVAL_TYPES_H

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

#ifdef __cplusplus
#define ZERVAL_EXTERN_C extern "C"
#define ZERVAL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZERVAL_EXTERN_C extern
#define ZERVAL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#endif /* ZERVAL_TYPES_H */
