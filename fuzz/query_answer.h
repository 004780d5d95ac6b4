// How a fuzzed services driver answers one pfnQueryMode, read from the input:
// accept or refuse, garbage above the BOOLEAN, and rewritten query fields.  An
// exhausted input reads as 0, which accepts at the requested rate and
// rewrites nothing.  Shared by the fuzz targets over the module.
#ifndef ZERVAL_FUZZ_QUERY_ANSWER_H
#define ZERVAL_FUZZ_QUERY_ANSWER_H

#include <cstdint>

#include <fuzzer/FuzzedDataProvider.h>

#include "query.h"

inline uint32_t AnswerQuery(FuzzedDataProvider &in, sim::Query &q)
{
    const uint8_t how = in.ConsumeIntegral<uint8_t>();
    uint32_t result = (how & 1) ? 0u : 1u;
    if (how & 2)
        result |= in.PickValueInArray({0xA5A5A500u, 0x100u, 0xFFFFFF00u});
    if (how & 4)
        q.refresh = in.ConsumeIntegral<uint16_t>();
    if (how & 8)
        q.attributes = in.ConsumeIntegral<uint32_t>();
    if (how & 16) {
        q.width = in.ConsumeIntegral<uint16_t>();
        q.height = in.ConsumeIntegral<uint16_t>();
        q.bitsPerPixel = in.ConsumeIntegral<uint16_t>();
    }
    // Another high byte, or bit 7 of the rate's byte flipped.
    if (how & 32)
        q.refresh = static_cast<uint16_t>(q.refresh ^ in.PickValueInArray({0x80u, 0x100u, 0xFF00u}));
    if (how & 64)
        q.flags = in.ConsumeIntegral<uint32_t>();
    return result;
}

#endif
