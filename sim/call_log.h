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

enum class Callee : uint8_t {
    AttachRMX,
    Attach,
    Init,
    QueryMode,
    SetMode,
    PassThrough,
    Function,
    GetFreeFramebufferSize,
    SetInitialValue,
    TvControl,
    AllocatePool,
    FreePool,
    ZeroMemory,
};

// The hook table as a services driver sees it.
struct TableView {
    uint32_t size = 0;
    uint8_t filled = 0;  // bit n set: hook n (sim::Hook order) is filled
    bool tvControlIsRmx = false;

    bool has(Hook hook) const { return (filled >> static_cast<int>(hook)) & 1u; }
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
    void clear() { calls_.clear(); }
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
    std::vector<std::string> breaches_;
};

const char *CalleeName(Callee callee);
std::string Describe(const CallRecord &record);

} // namespace sim

#endif
