#include "verifier_pool.h"

#include "error.h"
#include "linker.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <vector>

namespace emu {

namespace {

constexpr uint8_t kFill = 0xA5;  // fresh pool memory, never zero

} // namespace

uint32_t SpecialPool::allocate(uint32_t size, bool paged, bool exactEnd)
{
    // The block ends at a page end, and the page after it is never mapped.
    const uint32_t pages = RoundUp(size, kPage);
    const uint32_t base = next_;
    if (uint64_t{base} + pages + kPage > kLimit || uc_mem_map(uc_, base, pages, UC_PROT_READ | UC_PROT_WRITE) != UC_ERR_OK)
        throw Fault("special pool exhausted");
    const std::vector<uint8_t> fill(pages, kFill);
    CheckEngine(uc_mem_write(uc_, base, fill.data(), pages), "fill pool");
    next_ += pages + kPage;
    const uint32_t address = base + pages - (exactEnd ? size : RoundUp(size, 8));
    blocks_[address] = Block{base, pages, paged};
    return address;
}

bool SpecialPool::isPaged(uint32_t address) const
{
    const auto b = blocks_.find(address);
    return b != blocks_.end() && b->second.paged;
}

bool SpecialPool::release(uint32_t address)
{
    const Block block = blocks_.at(address);
    // The bytes before the block still hold the fill pattern, or something
    // wrote below the block's start.
    std::vector<uint8_t> slack(address - block.base);
    CheckEngine(uc_mem_read(uc_, block.base, slack.data(), slack.size()), "read pool");
    const bool intact = std::all_of(slack.begin(), slack.end(), [](uint8_t b) { return b == kFill; });
    CheckEngine(uc_mem_unmap(uc_, block.base, block.bytes), "unmap pool");
    blocks_.erase(address);
    return intact;
}

void SpecialPool::clear()
{
    for (const auto &[address, block] : blocks_)
        CheckEngine(uc_mem_unmap(uc_, block.base, block.bytes), "unmap pool");
    blocks_.clear();
    next_ = kBase;
}

void SpecialPool::trimPaged(bool trim)
{
    for (const auto &[address, block] : blocks_)
        if (block.paged)
            CheckEngine(uc_mem_protect(uc_, block.base, block.bytes, trim ? UC_PROT_NONE : UC_PROT_READ | UC_PROT_WRITE),
                        "trim pool");
}

bool SpecialPool::inPagedBlock(uint32_t address) const
{
    return std::any_of(blocks_.begin(), blocks_.end(), [address](const auto &b) {
        return b.second.paged && address >= b.second.base && address - b.second.base < b.second.bytes;
    });
}

} // namespace emu
