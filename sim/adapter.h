// The simulated adapter: the services driver (kelv.sys) and TV driver
// (rmx.sys) as the module meets them.  It answers in values - a query in, the
// rewritten query and a result out - and records every call in the log.
// Backends only marshal: the host doubles hand it real pointers, the emulator
// reads and writes guest memory.
#ifndef ZERVAL_SIM_ADAPTER_H
#define ZERVAL_SIM_ADAPTER_H

#include <array>
#include <cstdint>
#include <functional>

#include "call_log.h"
#include "profile.h"
#include "zerval_hooks.h"

namespace sim {

// The backend's handle on the module's hook table, as the services driver got
// it from Attach.
class HookTable {
public:
    virtual ~HookTable() = default;
    virtual TableView view() const = 0;
    virtual void fill(Hook hook, Entry entry = Entry::Original) = 0;  // install one of the adapter's hooks
    virtual void clear(Hook hook) = 0;  // make the slot empty
};

// What the simulated services driver leaves in every byte of pfnInit's buffer.
constexpr uint8_t kInitBufferFill = 0x4B;

class Adapter {
public:
    explicit Adapter(CallLog &log, Profile profile = Profile{}) : profile(std::move(profile)), log_(log) {}

    Profile profile;

    // Programmed answers; each replaces the profile's answer when set.  Results
    // are raw 32-bit values: where the module expects a BOOLEAN, a test can
    // put garbage in the upper bits.
    std::function<void(HookTable &)> onAttach;  // fill the table
    std::function<uint32_t(const InitBuffer &)> onInit;
    std::function<uint32_t(Query &)> onQueryMode;  // may rewrite the query
    std::function<uint32_t(const Query &, uint32_t option)> onSetMode;
    std::function<int32_t(uint32_t, uint32_t, uint32_t)> onPassThrough;
    std::function<uint32_t(uint32_t)> onFunction;
    std::function<uint32_t()> onGetFreeFramebufferSize;
    std::function<uint32_t(uint32_t, uint32_t, uint32_t)> onTvControl;
    // Runs after every hook call, with the table: a hostile services driver
    // rewrites the table between the module's calls.
    std::function<void(HookTable &, Callee)> afterHook;

    // The entries and hooks, called by the backends.
    uint32_t attachRmx(uint64_t context, uint64_t param);
    uint32_t attach(uint64_t context, uint64_t param, HookTable &table, uint64_t attachParam);
    // `via`: which of the hook's functions the module called.  The buffer is
    // the services driver's to write, and this one writes all of it
    // (kInitBufferFill): the backend hands every byte back to the module.
    uint32_t init(InitBuffer &buffer, Entry via = Entry::Original);
    // raw: the 16 bytes as the module laid them out, where the backend has them.
    uint32_t queryMode(Query &query, uint32_t zero, const RawQuery *raw = nullptr, Entry via = Entry::Original);
    uint32_t setMode(const Query &query, uint32_t zero, uint32_t option, Entry via = Entry::Original);
    int32_t passThrough(uint32_t a, uint32_t b, uint32_t c, Entry via = Entry::Original);
    uint32_t function(uint32_t value, Entry via = Entry::Original);
    uint32_t getFreeFramebufferSize(Entry via = Entry::Original);
    void setInitialValue(Entry via = Entry::Original);
    uint32_t tvControl(uint32_t a, uint32_t b, uint32_t c);

    // The table the services driver was last handed; null before any Attach.
    HookTable *table() const { return table_; }
    void forgetTable() { table_ = nullptr; }

private:
    void after(Callee callee);

    CallLog &log_;
    HookTable *table_ = nullptr;
};

} // namespace sim

#endif
