// ZervalResetToLoad: the host build's way back to the module's state at load.
#include "host_reset.h"

#include <cstring>

#include "module_state.h"

namespace {

struct Catalogue {
    ModeTableEntry rows[ZERVAL_MODE_TABLE_ROWS];
    ULONG rowCount;
    ULONG rates[ZERVAL_FREQUENCY_TABLE_ENTRIES];
    ULONG rateCount;
};

Catalogue Current()
{
    Catalogue c;
    std::memcpy(c.rows, modetable, sizeof modetable);
    c.rowCount = modeTableSize;
    std::memcpy(c.rates, frequencytable, sizeof frequencytable);
    c.rateCount = freqTableSize;
    return c;
}

} // namespace

extern "C" void ZervalResetToLoad()
{
    static const Catalogue loaded = Current();
    std::memcpy(modetable, loaded.rows, sizeof modetable);
    modeTableSize = loaded.rowCount;
    std::memcpy(frequencytable, loaded.rates, sizeof frequencytable);
    freqTableSize = loaded.rateCount;
    std::memset(&BiosDllExt, 0, sizeof BiosDllExt);
    BIOS_Attach = nullptr;
    NumModesFromBIOSDLL = 0;
    ORVX_NUM_MODES = 0;
    pModeInfoFromBIOSDLL = nullptr;
}
