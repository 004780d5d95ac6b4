// Every call that crosses the module's boundary, in order: the sibling
// drivers' entries, the hooks, and the kernel calls.
#ifndef ZERVAL_SIM_CALL_LOG_H
#define ZERVAL_SIM_CALL_LOG_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "query.h"

namespace sim {

// Who the module called.  The hooks come in sim::Hook order, each at
// kFirstHookCallee plus its Hook value (CalleeOf); the TV driver's
// S_RMX_Control, reached through pfnTvControl, is the last of them.
constexpr uint8_t kFirstHookCallee = 2;
constexpr uint8_t HookCallee(Hook hook) { return static_cast<uint8_t>(kFirstHookCallee + static_cast<uint8_t>(hook)); }

enum class Callee : uint8_t {
    AttachRMX,
    Attach,
    Init = HookCallee(Hook::Init),
    QueryMode = HookCallee(Hook::QueryMode),
    SetMode = HookCallee(Hook::SetMode),
    PassThrough = HookCallee(Hook::PassThrough),
    Function = HookCallee(Hook::Function),
    GetFreeFramebufferSize = HookCallee(Hook::GetFreeFramebufferSize),
    SetInitialValue = HookCallee(Hook::SetInitialValue),
    TvControl = HookCallee(Hook::TvControl),
    AllocatePool,
    FreePool,
    ZeroMemory,
};
static_assert(static_cast<uint8_t>(Callee::Attach) + 1 == kFirstHookCallee, "the hooks follow the siblings' entries");
static_assert(static_cast<uint8_t>(Callee::AllocatePool) == HookCallee(Hook::TvControl) + 1,
              "the kernel's functions follow the hooks");

constexpr Callee CalleeOf(Hook hook) { return static_cast<Callee>(HookCallee(hook)); }
// The hook a callee was reached through; false for the siblings' entries and
// the kernel's functions.
constexpr bool IsHook(Callee callee)
{
    return static_cast<uint8_t>(callee) >= kFirstHookCallee &&
           static_cast<uint8_t>(callee) < kFirstHookCallee + kHookCount;
}
constexpr Hook HookOf(Callee callee) { return static_cast<Hook>(static_cast<uint8_t>(callee) - kFirstHookCallee); }

// The hook table as a services driver sees it.
struct TableView {
    uint32_t size = 0;
    uint8_t filled = 0;  // bit n set: hook n (sim::Hook order) is filled
    bool tvControlIsRmx = false;

    bool has(Hook hook) const { return (filled >> static_cast<int>(hook)) & 1u; }
};

// A hook slot the services driver filled or emptied, between two calls: it
// happened before the call at index `before` of the log.
struct SlotChange {
    size_t before = 0;
    Hook hook{};
    bool filled = false;
    Entry entry = Entry::Original;  // when filled: which of the hook's functions
};

struct CallRecord {
    Callee callee{};
    std::array<uint64_t, 4> args{};
    uint64_t result = 0;
    Query in{};     // QueryMode, SetMode: the query as handed over
    Query out{};    // QueryMode: the query as handed back
    TableView table{};  // Attach: the table on entry
    bool bufferZero = false;  // Init: the buffer was all zero
    RawQuery raw{};           // QueryMode: the bytes handed over
    Entry via = Entry::Original;  // hooks: which of the hook's functions was called
};

class CallLog {
public:
    void add(const CallRecord &record) { calls_.push_back(record); }
    void clear()
    {
        calls_.clear();
        slotChanges_.clear();
        for (std::vector<size_t> &changes : changesOf_)
            changes.clear();
    }
    void slotChanged(Hook hook, bool filled, Entry entry = Entry::Original)
    {
        changesOf_[static_cast<size_t>(hook)].push_back(slotChanges_.size());
        slotChanges_.push_back(SlotChange{calls_.size(), hook, filled, entry});
    }
    const std::vector<SlotChange> &slotChanges() const { return slotChanges_; }
    // The slot as the call at `index` found it: the last change before it, or
    // none when the log saw no change of that slot.
    const SlotChange *slotBefore(Hook hook, size_t index) const;
    // A call that broke the contract in a way the backend could see but not
    // stop (the emulator stops the image instead): kept until read.
    void breach(std::string what) { breaches_.push_back(std::move(what)); }
    const std::vector<std::string> &breaches() const { return breaches_; }
    const std::vector<CallRecord> &calls() const { return calls_; }
    std::vector<CallRecord> of(Callee callee) const;
    size_t count(Callee callee) const { return of(callee).size(); }
    // The callees in order, kernel calls left out.
    std::vector<Callee> driverSequence() const;

private:
    std::vector<CallRecord> calls_;
    std::vector<SlotChange> slotChanges_;
    // Per hook, the indices of its changes in slotChanges_, in order (and so
    // by `before`): slotBefore searches them.
    std::array<std::vector<size_t>, kHookCount> changesOf_;
    std::vector<std::string> breaches_;
};

const char *CalleeName(Callee callee);
std::string Describe(const CallRecord &record);
// "{1024x768x16 @75 attr=0x00000000 flags=0x00000002}"
std::string DescribeQuery(const Query &query);

} // namespace sim

#endif
