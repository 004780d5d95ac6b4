// What the machine counts and checks of every instruction an image runs,
// done once per block the engine translates and not per instruction: the
// instructions executed (and the limit on them), the deepest stack, and the
// rule that kernel code uses no x87, MMX, SSE or AVX instruction.  A block is
// read when it is first run (x86_block.h); from its first instruction that
// reading cannot account for on, the instructions are watched one by one as
// they run.  The same for the module and every neighbour image.
#ifndef ZERVAL_EMU_CODE_CHECKS_H
#define ZERVAL_EMU_CODE_CHECKS_H

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

struct uc_struct;

namespace emu {

class CodeChecks {
public:
    static constexpr uint64_t kInstructionLimit = 50'000'000;

    // The engine's code hook for a watched instruction, with its user data.
    using WatchHook = void (*)(uc_struct *, uint64_t, uint32_t, void *);
    CodeChecks(uc_struct *uc, WatchHook hook, void *user) : uc_(uc), hook_(hook), user_(user) {}

    // Only instructions in [begin, end) count in instructions() (the
    // module's); every one counts towards the limit.
    void countOnly(uint32_t begin, uint32_t end)
    {
        countedBegin_ = begin;
        countedEnd_ = end;
    }
    // Every instruction in [begin, end] watched as it runs, none read ahead:
    // for code whose writes and faults must name their exact instruction
    // (the neighbour images, where the machine guards the stack).
    void watchAll(uint32_t begin, uint32_t end) { watch(begin, end); }

    // A call into an image begins, its stack pointer at `esp`.
    void begin(uint32_t esp);

    enum class Verdict {
        Run,      // go on
        Restart,  // stop the engine and run again from the block's start: it is now watched
        Refused,  // an x87/MMX/SSE/AVX instruction: refusal() names it
        Limit,    // the instruction limit is reached
    };
    // At the start of a block, before any of it runs.
    Verdict block(uint32_t address, uint32_t size);
    // At a watched instruction, before it runs.
    Verdict instruction(uint32_t address, uint32_t size);
    // The stack pointer at a call to a simulated routine.
    void stackAt(uint32_t esp) { lowest_ = esp < lowest_ ? esp : lowest_; }
    // Code at [address, address + size) was changed by the host: its blocks
    // are read again.
    void forget(uint32_t address, uint32_t size);

    // Whether the instruction at `address` is watched as it runs: only there
    // does the engine's EIP name the instruction that faulted, not the start
    // of its block.
    bool watched(uint32_t address) const;

    uint64_t instructions() const { return instructions_; }
    uint32_t lowestEsp() const { return lowest_; }
    // The last instruction run (its start), and what the refused one uses.
    uint32_t lastInstruction() const { return last_; }
    const char *refusal() const { return refusal_; }

private:
    struct Block {
        uint32_t size = 0;
        uint32_t instructions = 0;  // read statically
        uint32_t lastOffset = 0;
        int32_t lowestEsp = 0;      // relative to ESP at its start
    };
    void watch(uint32_t begin, uint32_t end);

    uc_struct *uc_;
    WatchHook hook_;
    void *user_;
    std::unordered_map<uint32_t, Block> blocks_;  // by start address
    // What each watched instruction uses of the register files (nullptr:
    // none), by its address: a neighbour's loop is decoded once, not on
    // every pass.
    std::unordered_map<uint32_t, const char *> registerFiles_;
    std::map<uint32_t, uint32_t> watched_;         // first address -> last address
    bool counted(uint32_t address) const { return address >= countedBegin_ && address < countedEnd_; }
    uint64_t instructions_ = 0;  // counted ones
    uint64_t executed_ = 0;      // all, for the limit
    uint32_t countedBegin_ = 0, countedEnd_ = UINT32_MAX;
    uint32_t lowest_ = 0;
    uint32_t last_ = 0;
    const char *refusal_ = nullptr;
};

} // namespace emu

#endif
