/* The public headers as a C89 compiler sees them (-std=c89 -pedantic-errors):
   they compile, and their layout checks hold.  Built, not run. */
#include "zerval.h"
#include "zerval_hooks.h"

/* A services driver's query hook, as such a driver would write it. */
BOOLEAN ZERVAL_CALL zerval_c89_query(ModeQuery *query, ULONG zero)
{
    (void)zero;
    return query->BitsPerPixel != 0;
}
