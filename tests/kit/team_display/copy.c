// A driver that only copies a structure, and names no import library: in the
// MSVC dialect the compiler calls memcpy for the copy, at any optimisation.
#include <ntdef.h>

typedef struct {
    ULONG words[32];
} TeamBlock;

static TeamBlock g_saved;

ULONG NTAPI DriverEntry(PVOID Context1, PVOID Context2)
{
    (void)Context2;
    g_saved = *(const TeamBlock *)Context1;
    return g_saved.words[0];
}
