/*
 * zerval_host_types.h - the platform types as the host (Linux, LP64) build
 * defines them: the same widths and field order as the 32-bit kernel's.
 * The image build checks these layouts against the DDK headers.
 */
#ifndef ZERVAL_HOST_TYPES_H
#define ZERVAL_HOST_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifndef VOID
#define VOID void
#endif
typedef void *PVOID;
typedef uint8_t UCHAR;
typedef uint8_t *PUCHAR;
typedef uint8_t BOOLEAN;
typedef uint16_t USHORT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef int32_t NTSTATUS;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef STATUS_SUCCESS
#define STATUS_SUCCESS ((NTSTATUS)0)
#endif

typedef enum _POOL_TYPE { NonPagedPool = 0, PagedPool = 1 } POOL_TYPE;

/* Opaque on the host: the module never looks inside them. */
typedef struct _DRIVER_OBJECT *PDRIVER_OBJECT;
typedef struct _UNICODE_STRING *PUNICODE_STRING;

typedef struct _VIDEO_MODE_INFORMATION {
    ULONG Length;
    ULONG ModeIndex;
    ULONG VisScreenWidth;
    ULONG VisScreenHeight;
    ULONG ScreenStride;
    ULONG NumberOfPlanes;
    ULONG BitsPerPlane;
    ULONG Frequency;
    ULONG XMillimeter;
    ULONG YMillimeter;
    ULONG NumberRedBits;
    ULONG NumberGreenBits;
    ULONG NumberBlueBits;
    ULONG RedMask;
    ULONG GreenMask;
    ULONG BlueMask;
    ULONG AttributeFlags;
    ULONG VideoMemoryBitmapWidth;
    ULONG VideoMemoryBitmapHeight;
    ULONG DriverSpecificAttributeFlags;
} VIDEO_MODE_INFORMATION, *PVIDEO_MODE_INFORMATION;

#endif /* ZERVAL_HOST_TYPES_H */
