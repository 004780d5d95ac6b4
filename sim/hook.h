// The hooks of the table a services driver fills for the module, and the
// names they go by in logs, profiles and messages.
#ifndef ZERVAL_SIM_HOOK_H
#define ZERVAL_SIM_HOOK_H

#include <cstdint>

namespace sim {

// The hooks of the table, in table order (slot 1 to 8 after Size).
enum class Hook : uint8_t {
    Init,
    QueryMode,
    SetMode,
    PassThrough,
    Function,
    GetFreeFramebufferSize,
    SetInitialValue,
    TvControl,
};
constexpr int kHookCount = 8;

// A services driver may install a second function for a hook after the
// first (a replacement), and the log tells which one the module called.
enum class Entry : uint8_t { Original, Replacement };

// The table's field names, in Hook order.
constexpr const char *kHookNames[kHookCount] = {
    "pfnInit",     "pfnQueryMode",              "pfnSetMode",         "pfnPassThrough",
    "pfnFunction", "pfnGetFreeFramebufferSize", "pfnSetInitialValue", "pfnTvControl",
};

constexpr const char *HookName(Hook hook) { return kHookNames[static_cast<int>(hook)]; }

} // namespace sim

#endif
