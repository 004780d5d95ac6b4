#include "pool_ledger.h"

#include <cstdio>

#include "zerval.h"

namespace sim {

bool PoolLedger::admit(uint32_t poolType, uint64_t size, uint32_t tag)
{
    const bool refuse = ++requests_ == failAt_;
    char buf[96];
    if (poolType != kPagedPool) {
        std::snprintf(buf, sizeof buf, "ExAllocatePoolWithTag: pool type %u, not PagedPool", poolType);
        faults_.push_back(buf);
    }
    if (tag != ZERVAL_POOL_TAG) {
        std::snprintf(buf, sizeof buf, "ExAllocatePoolWithTag: tag 0x%08x, not \"Bdll\"", tag);
        faults_.push_back(buf);
    }
    if (size == 0 || size > kLargestRequest) {
        std::snprintf(buf, sizeof buf, "ExAllocatePoolWithTag: request of %llu bytes",
                      static_cast<unsigned long long>(size));
        faults_.push_back(buf);
        return false;
    }
    return !refuse;
}

void PoolLedger::recordAllocation(uint64_t address, uint32_t poolType, uint64_t size, uint32_t tag)
{
    allocations_.push_back(Allocation{address, poolType, tag, size, address != 0});
}

bool PoolLedger::recordFree(uint64_t address)
{
    for (Allocation &a : allocations_) {
        if (a.live && a.address == address) {
            a.live = false;
            return true;
        }
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "ExFreePool(0x%llx): not a live allocation",
                  static_cast<unsigned long long>(address));
    faults_.push_back(buf);
    return false;
}

std::vector<Allocation> PoolLedger::live() const
{
    std::vector<Allocation> out;
    for (const Allocation &a : allocations_)
        if (a.live)
            out.push_back(a);
    return out;
}

void PoolLedger::clear()
{
    allocations_.clear();
    faults_.clear();
    requests_ = 0;
    failAt_ = 0;
}

} // namespace sim
