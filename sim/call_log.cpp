#include "call_log.h"

#include <algorithm>
#include <cstdio>
#include <iterator>


namespace sim {

const char *CalleeName(Callee callee)
{
    switch (callee) {
    case Callee::AttachRMX: return "AttachRMX";
    case Callee::Attach: return "Attach";
    case Callee::Init:
    case Callee::QueryMode:
    case Callee::SetMode:
    case Callee::PassThrough:
    case Callee::Function:
    case Callee::GetFreeFramebufferSize:
    case Callee::SetInitialValue: return HookName(HookOf(callee));
    case Callee::TvControl: return "S_RMX_Control";  // the TV driver's function in the table's last slot
    case Callee::AllocatePool: return "ExAllocatePoolWithTag";
    case Callee::FreePool: return "ExFreePool";
    case Callee::ZeroMemory: return "VideoPortZeroMemory";
    }
    return "?";  // a value outside the enumeration
}

const SlotChange *CallLog::slotBefore(Hook hook, size_t index) const
{
    const std::vector<size_t> &changes = changesOf_[static_cast<size_t>(hook)];
    const auto after = std::upper_bound(changes.begin(), changes.end(), index,
                                        [this](size_t i, size_t change) { return i < slotChanges_[change].before; });
    return after == changes.begin() ? nullptr : &slotChanges_[*std::prev(after)];
}

std::vector<CallRecord> CallLog::of(Callee callee) const
{
    std::vector<CallRecord> out;
    for (const CallRecord &c : calls_)
        if (c.callee == callee)
            out.push_back(c);
    return out;
}

std::vector<Callee> CallLog::driverSequence() const
{
    std::vector<Callee> out;
    for (const CallRecord &c : calls_)
        if (c.callee != Callee::AllocatePool && c.callee != Callee::FreePool && c.callee != Callee::ZeroMemory)
            out.push_back(c.callee);
    return out;
}

std::string DescribeQuery(const Query &q)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "{%ux%ux%u @%u attr=0x%08x flags=0x%08x}", q.width, q.height,
                  q.bitsPerPixel, q.refresh, q.attributes, q.flags);
    return buf;
}

static std::string DescribeCall(const CallRecord &c);

std::string Describe(const CallRecord &c)
{
    const std::string call = DescribeCall(c);
    return c.via == Entry::Replacement ? call + " [replacement]" : call;
}

static std::string DescribeCall(const CallRecord &c)
{
    char buf[160];
    const auto a = [&](int i) { return static_cast<unsigned long long>(c.args[i]); };
    const auto r = static_cast<unsigned long long>(c.result);
    const char *const name = CalleeName(c.callee);
    switch (c.callee) {
    case Callee::AttachRMX:
        std::snprintf(buf, sizeof buf, "%s(0x%llx, 0x%llx) = 0x%llx", name, a(0), a(1), r);
        return buf;
    case Callee::Attach:
        std::snprintf(buf, sizeof buf, "%s(0x%llx, 0x%llx, table{Size=%u}, 0x%llx) = 0x%llx", name, a(0),
                      a(1), c.table.size, a(3), r);
        return buf;
    case Callee::Init:
        std::snprintf(buf, sizeof buf, "%s(buffer[%zu]%s) = 0x%llx", name, InitBuffer().size(),
                      c.bufferZero ? " zeroed" : "", r);
        return buf;
    case Callee::QueryMode:
        std::snprintf(buf, sizeof buf, ", %llu) = 0x%llx", a(1), r);
        return name + ("(" + DescribeQuery(c.in)) + buf + " -> " + DescribeQuery(c.out);
    case Callee::SetMode:
        std::snprintf(buf, sizeof buf, ", %llu, 0x%llx) = 0x%llx", a(1), a(2), r);
        return name + ("(" + DescribeQuery(c.in)) + buf;
    case Callee::PassThrough:
    case Callee::TvControl:
        std::snprintf(buf, sizeof buf, "%s(0x%llx, 0x%llx, 0x%llx) = 0x%llx", name, a(0), a(1), a(2), r);
        return buf;
    case Callee::Function:
        std::snprintf(buf, sizeof buf, "%s(0x%llx) = 0x%llx", name, a(0), r);
        return buf;
    case Callee::GetFreeFramebufferSize:
        std::snprintf(buf, sizeof buf, "%s() = %llu", name, r);
        return buf;
    case Callee::SetInitialValue:
        return std::string(name) + "()";
    case Callee::AllocatePool:
        std::snprintf(buf, sizeof buf, "%s(type %llu, %llu bytes, tag 0x%08llx) = 0x%llx", name,
                      a(0), a(1), a(2), r);
        return buf;
    case Callee::FreePool:
        std::snprintf(buf, sizeof buf, "%s(0x%llx)", name, a(0));
        return buf;
    case Callee::ZeroMemory:
        std::snprintf(buf, sizeof buf, "%s(0x%llx, %llu)", name, a(0), a(1));
        return buf;
    }
    return "?";
}

} // namespace sim
