// A mode query as plain values, the way the adapter model sees it whichever
// backend carries it.
#ifndef ZERVAL_SIM_QUERY_H
#define ZERVAL_SIM_QUERY_H

#include <array>
#include <cstdint>
#include <cstring>

#include "hook.h"

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

// The query's 16 bytes as the module lays them out: little-endian, no gaps,
// depth first.
using RawQuery = std::array<uint8_t, 16>;

// The buffer handed to pfnInit: 76 bytes, all of them the services driver's
// to write (the module discards them).  Typed here from the documented
// layout, not taken from the module's header.
using InitBuffer = std::array<uint8_t, 76>;

inline Query FromRaw(const RawQuery &raw)
{
    Query q;
    std::memcpy(&q.bitsPerPixel, &raw[0], 2);
    std::memcpy(&q.width, &raw[2], 2);
    std::memcpy(&q.height, &raw[4], 2);
    std::memcpy(&q.refresh, &raw[6], 2);
    std::memcpy(&q.attributes, &raw[8], 4);
    std::memcpy(&q.flags, &raw[12], 4);
    return q;
}

inline RawQuery ToRaw(const Query &q)
{
    RawQuery raw;
    std::memcpy(&raw[0], &q.bitsPerPixel, 2);
    std::memcpy(&raw[2], &q.width, 2);
    std::memcpy(&raw[4], &q.height, 2);
    std::memcpy(&raw[6], &q.refresh, 2);
    std::memcpy(&raw[8], &q.attributes, 4);
    std::memcpy(&raw[12], &q.flags, 4);
    return raw;
}

} // namespace sim

#endif
