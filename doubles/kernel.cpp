// The kernel's pool and the video port's memory clearing, for the host build.
// New allocations are filled with a pattern, so nothing relies on pool memory
// being zero.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "host_platform.h"
#include "state.h"

using hostsim::Current;

extern "C" PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag)
{
    sim::PoolLedger &pool = *Current().pool;
    void *p = nullptr;
    if (pool.admit(static_cast<uint32_t>(PoolType), NumberOfBytes, Tag)) {
        p = std::malloc(NumberOfBytes);
        if (p == nullptr) {
            std::fprintf(stderr, "host kernel: out of memory\n");
            std::abort();
        }
        std::memset(p, 0xA5, NumberOfBytes);
        hostsim::Shared().blocks[reinterpret_cast<uintptr_t>(p)] = NumberOfBytes;
    }
    const uint64_t address = reinterpret_cast<uintptr_t>(p);
    pool.recordAllocation(address, static_cast<uint32_t>(PoolType), NumberOfBytes, Tag);
    sim::CallRecord c{sim::Callee::AllocatePool};
    c.args = {static_cast<uint64_t>(PoolType), NumberOfBytes, Tag};
    c.result = address;
    Current().log->add(c);
    return p;
}

extern "C" VOID ExFreePool(PVOID P)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(P);
    sim::CallRecord c{sim::Callee::FreePool};
    c.args = {address};
    Current().log->add(c);
    if (Current().pool->recordFree(address)) {
        hostsim::Shared().blocks.erase(address);
        std::free(P);
    }
}

extern "C" VOID VideoPortZeroMemory(PVOID Destination, ULONG Length)
{
    sim::CallRecord c{sim::Callee::ZeroMemory};
    c.args = {reinterpret_cast<uintptr_t>(Destination), Length};
    Current().log->add(c);
    std::memset(Destination, 0, Length);
}
