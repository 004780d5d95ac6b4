// compiler.h - the one spelling of each construct that the module needs from
// its compiler beyond the language: keeping a function out of line, and
// placing an object in the image's .biosdll data section.
//
// Each dialect gets the spelling it honours.  Nothing here may be a spelling
// that a compiler accepts and then drops: mingw-w64's headers define
// __attribute__(x) to nothing for a compiler that is not GNU, so a GNU
// attribute under clang-cl or cl.exe would vanish without a word.  The build
// of each image checks .biosdll afterwards (tools/biosdll-check).
#ifndef ZERVAL_COMPILER_H
#define ZERVAL_COMPILER_H

#if defined(_MSC_VER)
// cl.exe and clang-cl.
#define ZERVAL_NOINLINE __declspec(noinline)
#if defined(ZERVAL_IMAGE)
#pragma section(".biosdll", read, write)
#define ZERVAL_BIOSDLL __declspec(allocate(".biosdll"))
#endif
#elif defined(__GNUC__)
// mingw-w64 gcc for the image; gcc and clang for the host build.
#define ZERVAL_NOINLINE __attribute__((noinline))
#if defined(ZERVAL_IMAGE)
#define ZERVAL_BIOSDLL __attribute__((section(".biosdll")))
#endif
#else
#error "zerval: unknown compiler dialect; spell ZERVAL_NOINLINE and ZERVAL_BIOSDLL for it here"
#endif

// The host build has no .biosdll section.
#if !defined(ZERVAL_IMAGE)
#define ZERVAL_BIOSDLL
#endif

#endif // ZERVAL_COMPILER_H
