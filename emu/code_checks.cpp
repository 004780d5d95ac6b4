#include "code_checks.h"

#include "error.h"
#include "fpu_simd.h"
#include "linker.h"
#include "x86_block.h"
#include "x86_decoder.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <vector>

namespace emu {

void CodeChecks::begin(uint32_t esp)
{
    instructions_ = 0;
    executed_ = 0;
    lowest_ = esp;
    refusal_ = nullptr;
}

bool CodeChecks::watched(uint32_t address) const
{
    auto after = watched_.upper_bound(address);
    return after != watched_.begin() && address <= std::prev(after)->second;
}

// Hooks every address of [begin, end] not watched yet: no instruction is
// watched twice.
void CodeChecks::watch(uint32_t begin, uint32_t end)
{
    uint64_t from = begin;
    while (from <= end) {
        auto next = watched_.upper_bound(static_cast<uint32_t>(from));
        if (next != watched_.begin() && std::prev(next)->second >= from) {
            from = uint64_t{std::prev(next)->second} + 1;  // inside a watched range: skip it
            continue;
        }
        const uint32_t last = next != watched_.end() && next->first <= end ? next->first - 1 : end;
        uc_hook h;
        CheckEngine(uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void *>(hook_), user_, from, last),
                    "watch code");
        watched_[static_cast<uint32_t>(from)] = last;
        from = uint64_t{last} + 1;
    }
}

CodeChecks::Verdict CodeChecks::block(uint32_t address, uint32_t size)
{
    auto it = blocks_.find(address);
    if (it == blocks_.end() || it->second.size != size) {
        std::vector<uint8_t> bytes(size);
        CheckEngine(uc_mem_read(uc_, address, bytes.data(), size), "read code");
        const BlockReading r = ReadBlock(bytes.data(), size, [this, address](uint32_t offset) {
            return watched(address + offset);
        });
        if (r.read < size) {
            // From here on each instruction is looked at as it runs.  What
            // was read of any block now watched in part is read again, and
            // the engine translates those blocks again with the watch in them.
            const size_t before = watched_.size();
            watch(address + r.read, address + size - 1);
            if (watched_.size() != before) {
                forget(address + r.read, size - r.read);
                return Verdict::Restart;
            }
        }
        Block b;
        b.size = size;
        b.instructions = r.instructions;
        b.lastOffset = r.lastOffset;
        b.lowestEsp = r.lowestEsp;
        it = blocks_.insert_or_assign(address, b).first;
    }
    const Block &b = it->second;
    if (b.instructions == 0)
        return Verdict::Run;  // all of it watched
    if (executed_ + b.instructions > kInstructionLimit)
        return Verdict::Limit;
    executed_ += b.instructions;
    if (counted(address))
        instructions_ += b.instructions;
    last_ = address + b.lastOffset;
    uint32_t esp = 0;
    uc_reg_read(uc_, UC_X86_REG_ESP, &esp);
    lowest_ = std::min(lowest_, static_cast<uint32_t>(esp + b.lowestEsp));
    return Verdict::Run;
}

CodeChecks::Verdict CodeChecks::instruction(uint32_t address, uint32_t size)
{
    auto known = registerFiles_.find(address);
    if (known == registerFiles_.end()) {
        uint8_t bytes[kLongestInstruction] = {};
        const uint32_t n = std::min<uint32_t>(size, sizeof bytes);
        CheckEngine(uc_mem_read(uc_, address, bytes, n), "read code");
        known = registerFiles_.emplace(address, FpuOrSimdUse(bytes, n)).first;
    }
    last_ = address;
    if ((refusal_ = known->second) != nullptr)
        return Verdict::Refused;
    if (executed_ + 1 > kInstructionLimit)
        return Verdict::Limit;
    ++executed_;
    if (counted(address))
        ++instructions_;
    uint32_t esp = 0;
    uc_reg_read(uc_, UC_X86_REG_ESP, &esp);
    lowest_ = std::min(lowest_, esp);
    return Verdict::Run;
}

void CodeChecks::forget(uint32_t address, uint32_t size)
{
    const uint64_t end = uint64_t{address} + size;
    for (auto it = blocks_.begin(); it != blocks_.end();)
        it = it->first < end && uint64_t{it->first} + it->second.size > address ? blocks_.erase(it) : std::next(it);
    // An instruction that begins before the change may reach into it.
    for (auto it = registerFiles_.begin(); it != registerFiles_.end();)
        it = it->first < end && uint64_t{it->first} + kLongestInstruction > address ? registerFiles_.erase(it)
                                                                                   : std::next(it);
    CheckEngine(uc_ctl_remove_cache(uc_, address, end), "retranslate");
}

} // namespace emu
