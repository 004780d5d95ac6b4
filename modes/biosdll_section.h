// Places an object in the .biosdll data section of the image.  Objects keep
// their definition order there (the image is compiled without top-level
// reordering).  The host build has no such section.
#ifndef ZERVAL_BIOSDLL_SECTION_H
#define ZERVAL_BIOSDLL_SECTION_H

#if defined(ZERVAL_IMAGE)
#define ZERVAL_BIOSDLL __attribute__((section(".biosdll")))
#else
#define ZERVAL_BIOSDLL
#endif

#endif // ZERVAL_BIOSDLL_SECTION_H
