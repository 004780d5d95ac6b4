#include "call_log.h"

#include <cstdio>

namespace sim {

const char *HookName(Hook hook)
{
    static const char *const names[kHookCount] = {
        "pfnInit",     "pfnQueryMode",           "pfnSetMode",         "pfnPassThrough",
        "pfnFunction", "pfnGetFreeFramebufferSize", "pfnSetInitialValue", "pfnTvControl",
    };
    return names[static_cast<int>(hook)];
}

const char *CalleeName(Callee callee)
{
    switch (callee) {
    case Callee::AttachRMX: return "AttachRMX";
    case Callee::Attach: return "Attach";
    case Callee::Init: return "pfnInit";
    case Callee::QueryMode: return "pfnQueryMode";
    case Callee::SetMode: return "pfnSetMode";
    case Callee::PassThrough: return "pfnPassThrough";
    case Callee::Function: return "pfnFunction";
    case Callee::GetFreeFramebufferSize: return "pfnGetFreeFramebufferSize";
    case Callee::SetInitialValue: return "pfnSetInitialValue";
    case Callee::TvControl: return "S_RMX_Control";
    case Callee::AllocatePool: return "ExAllocatePoolWithTag";
    case Callee::FreePool: return "ExFreePool";
    case Callee::ZeroMemory: return "VideoPortZeroMemory";
    }
    return "?";
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

static std::string FormatQuery(const Query &q)
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
    switch (c.callee) {
    case Callee::AttachRMX:
        std::snprintf(buf, sizeof buf, "AttachRMX(0x%llx, 0x%llx) = 0x%llx", a(0), a(1), r);
        return buf;
    case Callee::Attach:
        std::snprintf(buf, sizeof buf, "Attach(0x%llx, 0x%llx, table{Size=%u}, 0x%llx) = 0x%llx", a(0), a(1),
                      c.table.size, a(3), r);
        return buf;
    case Callee::Init:
        std::snprintf(buf, sizeof buf, "pfnInit(buffer[76]%s) = 0x%llx", c.bufferZero ? " zeroed" : "", r);
        return buf;
    case Callee::QueryMode:
        std::snprintf(buf, sizeof buf, "pfnQueryMode(, %llu) = 0x%llx", a(1), r);
        return std::string(buf).insert(13, FormatQuery(c.in)) + " -> " + FormatQuery(c.out);
    case Callee::SetMode:
        std::snprintf(buf, sizeof buf, "pfnSetMode(, %llu, 0x%llx) = 0x%llx", a(1), a(2), r);
        return std::string(buf).insert(11, FormatQuery(c.in));
    case Callee::PassThrough:
    case Callee::TvControl:
        std::snprintf(buf, sizeof buf, "%s(0x%llx, 0x%llx, 0x%llx) = 0x%llx", CalleeName(c.callee), a(0), a(1),
                      a(2), r);
        return buf;
    case Callee::Function:
        std::snprintf(buf, sizeof buf, "pfnFunction(0x%llx) = 0x%llx", a(0), r);
        return buf;
    case Callee::GetFreeFramebufferSize:
        std::snprintf(buf, sizeof buf, "pfnGetFreeFramebufferSize() = %llu", r);
        return buf;
    case Callee::SetInitialValue:
        return "pfnSetInitialValue()";
    case Callee::AllocatePool:
        std::snprintf(buf, sizeof buf, "ExAllocatePoolWithTag(type %llu, %llu bytes, tag 0x%08llx) = 0x%llx", a(0),
                      a(1), a(2), r);
        return buf;
    case Callee::FreePool:
        std::snprintf(buf, sizeof buf, "ExFreePool(0x%llx)", a(0));
        return buf;
    case Callee::ZeroMemory:
        std::snprintf(buf, sizeof buf, "VideoPortZeroMemory(0x%llx, %llu)", a(0), a(1));
        return buf;
    }
    return "?";
}

} // namespace sim
