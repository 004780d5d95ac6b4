// Compiled in the image build only: the host definitions of the platform
// records must match the DDK's field by field, so that the host build tests
// the same layouts that the image exchanges with other drivers.
#include "ddk_platform.h"

#include <stddef.h>
#include <stdint.h>

namespace host {
#include "zerval_host_types.h"
}

#define ZERVAL_SAME_FIELD(rec, field)                                                    \
    static_assert(offsetof(host::rec, field) == offsetof(::rec, field), #rec "." #field); \
    static_assert(sizeof(host::rec::field) == sizeof(::rec::field), #rec "." #field " width")

static_assert(sizeof(host::VIDEO_MODE_INFORMATION) == sizeof(::VIDEO_MODE_INFORMATION),
              "VIDEO_MODE_INFORMATION size");
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, Length);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, ModeIndex);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, VisScreenWidth);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, VisScreenHeight);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, ScreenStride);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, NumberOfPlanes);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, BitsPerPlane);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, Frequency);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, XMillimeter);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, YMillimeter);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, NumberRedBits);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, NumberGreenBits);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, NumberBlueBits);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, RedMask);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, GreenMask);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, BlueMask);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, AttributeFlags);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, VideoMemoryBitmapWidth);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, VideoMemoryBitmapHeight);
ZERVAL_SAME_FIELD(VIDEO_MODE_INFORMATION, DriverSpecificAttributeFlags);

// The scalar types the module's records and hooks are built from.
static_assert(sizeof(host::ULONG) == sizeof(::ULONG), "ULONG");
static_assert(sizeof(host::LONG) == sizeof(::LONG), "LONG");
static_assert(sizeof(host::USHORT) == sizeof(::USHORT), "USHORT");
static_assert(sizeof(host::UCHAR) == sizeof(::UCHAR), "UCHAR");
static_assert(sizeof(host::BOOLEAN) == sizeof(::BOOLEAN), "BOOLEAN");
static_assert(int(host::PagedPool) == int(::PagedPool), "PagedPool");
static_assert(int(host::NonPagedPool) == int(::NonPagedPool), "NonPagedPool");
