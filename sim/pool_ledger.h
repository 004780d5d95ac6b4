// The kernel pool's books, kept the same way by the host kernel double and by
// the emulated kernel: every allocation with its pool type, tag and size,
// which are still live, the faults seen, and an optional failure injection.
#ifndef ZERVAL_SIM_POOL_LEDGER_H
#define ZERVAL_SIM_POOL_LEDGER_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Allocation {
    uint64_t address = 0;  // 0: the request was refused
    uint32_t poolType = 0;
    uint32_t tag = 0;
    uint64_t size = 0;
    bool live = false;
};

// What the module's requests must be: PagedPool, tagged ZERVAL_POOL_TAG
// (zerval.h), at most this large.
constexpr uint32_t kPagedPool = 1;
constexpr uint64_t kLargestRequest = 16u << 20;

class PoolLedger {
public:
    // Refuses the Nth request from now on (1 = the next one); 0 refuses none.
    void failRequest(uint32_t nth) { failAt_ = nth == 0 ? 0 : requests_ + nth; }

    // Called for every request.  Records a fault for anything but a PagedPool
    // request of 1 byte to 16 MiB tagged "Bdll".  False: refuse it (a bad
    // request, or the one failRequest named); the caller returns NULL and then
    // reports the request with address 0 through recordAllocation.
    bool admit(uint32_t poolType, uint64_t size, uint32_t tag);
    void recordAllocation(uint64_t address, uint32_t poolType, uint64_t size, uint32_t tag);
    // False, with a fault recorded, for anything not live.
    bool recordFree(uint64_t address);
    void fault(std::string what) { faults_.push_back(std::move(what)); }

    const std::vector<Allocation> &allocations() const { return allocations_; }
    std::vector<Allocation> live() const;
    const std::vector<std::string> &faults() const { return faults_; }
    void clear();

private:
    std::vector<Allocation> allocations_;
    std::vector<std::string> faults_;
    uint32_t requests_ = 0;
    uint32_t failAt_ = 0;
};

} // namespace sim

#endif
