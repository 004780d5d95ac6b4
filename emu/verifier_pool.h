// The emulated kernel's special pool, the memory behind
// ExAllocatePoolWithTag: every block ends against an unmapped page, the rest
// of its first page keeps a fill pattern that is checked when the block is
// freed, and a freed block is unmapped, so an overrun or a use after free
// faults at once.  Paged blocks can be trimmed (made inaccessible) while the
// image runs at DISPATCH_LEVEL or above, as the driver verifier does.
#ifndef ZERVAL_EMU_VERIFIER_POOL_H
#define ZERVAL_EMU_VERIFIER_POOL_H

#include <cstdint>
#include <map>

struct uc_struct;

namespace emu {

class SpecialPool {
public:
    static constexpr uint32_t kBase = 0x20000000;  // the pool grows up from here
    static constexpr uint32_t kLimit = 0xB0000000;  // and ends below the simulated devices

    explicit SpecialPool(uc_struct *uc) : uc_(uc) {}

    // Maps a block of `size` bytes (1 or more), ending 8-byte aligned against
    // the guard page, or to the byte with `exactEnd`; throws Fault when the
    // pool's part of the guest's address space is used up.
    uint32_t allocate(uint32_t size, bool paged, bool exactEnd = false);
    bool isBlock(uint32_t address) const { return blocks_.count(address) != 0; }
    // Whether a block of `size` bytes still fits below kLimit.
    bool roomFor(uint32_t size) const { return uint64_t{next_} + RoundUpToPage(size) + kPageBytes <= kLimit; }
    bool isPaged(uint32_t address) const;
    // Unmaps a block handed out by allocate; false when something wrote
    // below its start.
    bool release(uint32_t address);
    // Unmaps every block.
    void clear();
    // Whether an address lies in the pool's range: a block, a guard page, a
    // freed block.
    bool inRange(uint32_t address) const { return address >= kBase && address < next_; }
    // Paged blocks inaccessible to the guest (true) or back to read/write.
    void trimPaged(bool trim);
    // The paged block (trimmed or not) an address lies in.
    bool inPagedBlock(uint32_t address) const;

private:
    static constexpr uint32_t kPageBytes = 0x1000;
    static constexpr uint64_t RoundUpToPage(uint32_t size) { return (uint64_t{size} + kPageBytes - 1) / kPageBytes * kPageBytes; }
    struct Block {
        uint32_t base;   // first mapped page
        uint32_t bytes;  // mapped bytes
        bool paged;
    };
    uc_struct *uc_;
    std::map<uint32_t, Block> blocks_;  // by the address handed out
    uint32_t next_ = kBase;
};

} // namespace emu

#endif
