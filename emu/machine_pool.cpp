// The pool as the neighbour images reach it: the same special pool as the
// module's (every block against an unmapped page, checked when freed), held
// to the kernel's rules for any driver - the IRQL of paged pool, no empty
// request, a free of a live block only, with its own tag - on books of their
// own, apart from the module's ledger and call log.
#include "machine.h"

#include <cstdio>

namespace emu {

namespace {

// A pool tag as the debugger shows it: its four characters, low byte first.
std::string TagText(uint32_t tag)
{
    std::string text = "'";
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(tag >> (8 * i));
        text += c >= 0x20 && c < 0x7F ? c : '.';
    }
    return text + "'";
}

} // namespace

uint32_t Machine::allocateFor(const ServedCall &c, uint32_t poolType, uint32_t size, uint32_t tag)
{
    if (IsPagedPool(poolType))
        requirePagedPoolAllowed("a request of " + std::to_string(size) + " bytes of paged pool (type " +
                                std::to_string(poolType) + ")");
    if (size == 0)
        throw Fault("BAD_POOL_CALLER (0xC2, 0x00): a request of 0 bytes (pool type " + std::to_string(poolType) +
                    ", tag " + TagText(tag) + ")");
    // More than the simulated pool holds: NULL, as the kernel answers a
    // request it cannot meet.
    if (size > kLargestImageBlock || !specialPool_.roomFor(size))
        return 0;
    const uint32_t address = specialPool_.allocate(size, IsPagedPool(poolType));
    imageBlocks_[address] = ImageBlock{c.caller, poolType, size, tag};
    return address;
}

void Machine::freeAny(const ServedCall &c, uint32_t address, std::optional<uint32_t> tag)
{
    bool modules = false;
    for (const sim::Allocation &a : pool_.allocations())
        modules = modules || (a.live && a.address == address);
    if (imageBlocks_.count(address) != 0 || (c.fromNeighbour() && !modules))
        freeFor(address, tag);
    else
        freePool(address);
}

void Machine::freeFor(uint32_t address, std::optional<uint32_t> tag)
{
    const auto block = imageBlocks_.find(address);
    if (block == imageBlocks_.end())
        throw Fault("BAD_POOL_CALLER: the free of " + pe::Hex(address) +
                    ", which is no live block of the pool (never allocated, freed already, or not its start)");
    if (tag && *tag != block->second.tag)
        throw Fault("BAD_POOL_CALLER (0xC2, 0x0A): the free of " + pe::Hex(address) + " with tag " + TagText(*tag) +
                    ", which was allocated with tag " + TagText(block->second.tag));
    if (IsPagedPool(block->second.poolType))
        requirePagedPoolAllowed("the free of paged pool at " + pe::Hex(address));
    const bool intact = specialPool_.release(address);
    imageBlocks_.erase(block);
    if (!intact)
        throw Fault("the free of " + pe::Hex(address) + ": something wrote below the start of the block");
}

} // namespace emu
