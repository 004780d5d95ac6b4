// The four services forwarded to the services driver's optional hooks.  Each
// reads its hook at the moment of the call and answers with a fixed default
// when the hook is empty, so they may be called in any state.
#include "module_state.h"

extern "C" BOOLEAN ZERVAL_CALL Orvalen_Function(ULONG Value)
{
    const PFN_ZERVAL_FUNCTION function = BiosDllExt.pfnFunction;
    if (function == nullptr)
        return FALSE;
    return function(Value);
}

// The pass-through answers first; a negative answer hands the request to the
// TV driver.
extern "C" BOOLEAN ZERVAL_CALL MeltoBiosDll(ULONG A, ULONG B, ULONG C)
{
    const PFN_ZERVAL_PASS_THROUGH passThrough = BiosDllExt.pfnPassThrough;
    if (passThrough == nullptr)
        return FALSE;
    const LONG answer = passThrough(A, B, C);
    if (answer >= 0)
        return static_cast<UCHAR>(answer);

    const PFN_ZERVAL_TV_CONTROL tvControl = BiosDllExt.pfnTvControl;
    if (tvControl == nullptr)
        return FALSE;
    return static_cast<UCHAR>(tvControl(A, B, C));
}

extern "C" ULONG ZERVAL_CALL GetFreeFramebufferSize(VOID)
{
    const PFN_ZERVAL_GET_FREE_FRAMEBUFFER_SIZE getFree = BiosDllExt.pfnGetFreeFramebufferSize;
    if (getFree == nullptr)
        return 0;
    return getFree();
}

extern "C" ULONG ZERVAL_CALL BiosDllSetInitialValue(VOID)
{
    const PFN_ZERVAL_SET_INITIAL_VALUE setInitialValue = BiosDllExt.pfnSetInitialValue;
    if (setInitialValue != nullptr)
        setInitialValue();
    return 1;
}
