// The hooks of the table a services driver fills for the module, and the
// names they go by in logs, profiles and messages.
#ifndef ZERVAL_SIM_HOOK_H
#define ZERVAL_SIM_HOOK_H

#include <cstddef>
#include <cstdint>

#include "zerval_hooks.h"

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

// Each hook's slot in DllExt, counted in pointers from the start (Size takes
// slot 0), is 1 + its Hook value.
constexpr size_t DllExtSlot(Hook hook) { return 1 + static_cast<size_t>(hook); }
static_assert(offsetof(DllExt, pfnInit) / sizeof(void *) == DllExtSlot(Hook::Init), "pfnInit");
static_assert(offsetof(DllExt, pfnQueryMode) / sizeof(void *) == DllExtSlot(Hook::QueryMode), "pfnQueryMode");
static_assert(offsetof(DllExt, pfnSetMode) / sizeof(void *) == DllExtSlot(Hook::SetMode), "pfnSetMode");
static_assert(offsetof(DllExt, pfnPassThrough) / sizeof(void *) == DllExtSlot(Hook::PassThrough), "pfnPassThrough");
static_assert(offsetof(DllExt, pfnFunction) / sizeof(void *) == DllExtSlot(Hook::Function), "pfnFunction");
static_assert(offsetof(DllExt, pfnGetFreeFramebufferSize) / sizeof(void *) == DllExtSlot(Hook::GetFreeFramebufferSize),
              "pfnGetFreeFramebufferSize");
static_assert(offsetof(DllExt, pfnSetInitialValue) / sizeof(void *) == DllExtSlot(Hook::SetInitialValue),
              "pfnSetInitialValue");
static_assert(offsetof(DllExt, pfnTvControl) / sizeof(void *) == DllExtSlot(Hook::TvControl), "pfnTvControl");
static_assert(sizeof(DllExt) / sizeof(void *) == 1 + kHookCount, "Size and one slot per hook");

// A services driver may install a second function for a hook after the
// first (a replacement), and the log tells which one the module called.
enum class Entry : uint8_t { Original, Replacement };

// The table's field names, in Hook order.
constexpr const char *kHookNames[kHookCount] = {
    "pfnInit",     "pfnQueryMode",              "pfnSetMode",         "pfnPassThrough",
    "pfnFunction", "pfnGetFreeFramebufferSize", "pfnSetInitialValue", "pfnTvControl",
};

constexpr const char *HookName(Hook hook) { return kHookNames[static_cast<int>(hook)]; }

// The bytes of EAX a hook's result type gives back: BOOLEAN hooks 1 (AL),
// pfnSetInitialValue none (VOID), the others a ULONG or LONG.
constexpr uint8_t HookResultBytes(Hook hook)
{
    switch (hook) {
    case Hook::Init:
    case Hook::QueryMode:
    case Hook::SetMode:
    case Hook::Function: return 1;
    case Hook::SetInitialValue: return 0;
    case Hook::PassThrough:
    case Hook::GetFreeFramebufferSize:
    case Hook::TvControl: return 4;
    }
    return 4;
}

// The hooks the module calls without testing them: a services driver fills
// them in Attach, and an attach that finds one empty fails.
constexpr Hook kRequiredHooks[] = {Hook::Init, Hook::QueryMode, Hook::SetMode};

} // namespace sim

#endif
