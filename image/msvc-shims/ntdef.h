/*
 * ntdef.h for clang-cl with mingw-w64's headers: theirs, then one correction.
 * This folder comes before the DDK's on the include path in that case only
 * (installed as include/zerval-msvc-shims); gcc, and cl.exe with the driver
 * kit's own headers, never see it.  wdm.h and the rest include <ntdef.h>
 * themselves, so they get the correction too.
 *
 * FIELD_OFFSET: mingw-w64 spells it as the address of a member through a null
 * pointer for every compiler but gcc.  That is no constant expression to
 * clang, and wdm.h (through ntddk.h) sizes C_ASSERT's arrays with it, which
 * clang then takes for variable ones: "function declaration cannot have
 * variably modified type".  __builtin_offsetof, mingw-w64's spelling for gcc,
 * is a constant expression to clang as well.
 */
#include_next <ntdef.h>

#if defined(__MINGW64_VERSION_MAJOR) && !defined(__GNUC__)
#undef FIELD_OFFSET
#define FIELD_OFFSET(Type, Field) __builtin_offsetof(Type, Field)
#endif
