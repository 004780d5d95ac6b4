// A mode query as plain values, the way the adapter model sees it whichever
// backend carries it.
#ifndef ZERVAL_SIM_QUERY_H
#define ZERVAL_SIM_QUERY_H

#include <cstdint>

namespace sim {

struct Query {
    uint16_t bitsPerPixel = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t refresh = 0;
    uint32_t attributes = 0;
    uint32_t flags = 0;

    bool operator==(const Query &) const = default;
};

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

const char *HookName(Hook hook);

} // namespace sim

#endif
