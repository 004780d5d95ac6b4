// The published mode list and its counts, all zero until the first build.
#include "module_state.h"

extern "C" {
ULONG NumModesFromBIOSDLL = 0;
ULONG ORVX_NUM_MODES = 0;
VIDEO_MODE_INFORMATION *pModeInfoFromBIOSDLL = nullptr;
}
