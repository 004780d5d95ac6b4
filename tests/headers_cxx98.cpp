// The public headers as a C++98 compiler sees them (-std=c++98
// -pedantic-errors): they compile, and their layout checks hold.  Built, not
// run.
#include "zerval.h"
#include "zerval_hooks.h"

BOOLEAN ZERVAL_CALL zerval_cxx98_query(ModeQuery *query, ULONG zero)
{
    (void)zero;
    return query->BitsPerPixel != 0;
}
