// The services driver (kelv.sys) and TV driver (rmx.sys) for the host build:
// real C entries and hooks that marshal to the bound adapter model.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"
#include "state.h"

namespace hostsim {

namespace {

sim::Adapter &Model() { return *Current().adapter; }

sim::RawQuery RawOf(const ModeQuery &query)
{
    static_assert(sizeof(ModeQuery) == sizeof(sim::RawQuery), "ModeQuery is the 16 raw bytes");
    sim::RawQuery raw;
    std::memcpy(raw.data(), &query, raw.size());
    return raw;
}

// The highest address of the calling thread's stack (slow: read once per thread).
uintptr_t StackTop()
{
    pthread_attr_t attr;
    void *base = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return UINTPTR_MAX;
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    return reinterpret_cast<uintptr_t>(base) + size;
}

// A record or buffer handed to a hook must lie in the caller's frames: above
// the hook's own frame, below the frame the module was entered from.
__attribute__((noinline)) void RequireInCallerFrames(const char *hook, const void *record, size_t size)
{
    const uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    const uintptr_t at = reinterpret_cast<uintptr_t>(record);
    thread_local const uintptr_t stackTop = StackTop();
    const void *const callerFrame = Shared().callerFrame;
    const uintptr_t top = callerFrame != nullptr ? reinterpret_cast<uintptr_t>(callerFrame) : stackTop;
    if (at > here && at + size <= top)
        return;
    char address[32];
    std::snprintf(address, sizeof address, "%p", record);
    Current().log->breach(std::string(hook) + " was handed a " + std::to_string(size) + "-byte record at " +
                          address + ", outside the caller's stack frame");
}

// Each hook comes twice, so that a services driver can replace one with a
// function of its own and the log tells which one the module called.
using sim::Entry;

template <Entry via>
BOOLEAN HookInit(PVOID buffer)
{
    sim::InitBuffer copy;
    RequireInCallerFrames(sim::HookName(sim::Hook::Init), buffer, copy.size());
    std::memcpy(copy.data(), buffer, copy.size());
    const auto r = static_cast<BOOLEAN>(Model().init(copy, via));
    std::memcpy(buffer, copy.data(), copy.size());
    return r;
}

template <Entry via>
BOOLEAN HookQueryMode(ModeQuery *query, ULONG zero)
{
    RequireInCallerFrames(sim::HookName(sim::Hook::QueryMode), query, sim::RawQuery().size());
    const sim::RawQuery raw = RawOf(*query);
    sim::Query v = sim::FromRaw(raw);
    const uint32_t r = Model().queryMode(v, zero, &raw, via);
    const sim::RawQuery answer = sim::ToRaw(v);
    std::memcpy(query, answer.data(), answer.size());
    return static_cast<BOOLEAN>(r);
}

template <Entry via>
BOOLEAN HookSetMode(ModeQuery *query, ULONG zero, ULONG option)
{
    RequireInCallerFrames(sim::HookName(sim::Hook::SetMode), query, sim::RawQuery().size());
    return static_cast<BOOLEAN>(Model().setMode(sim::FromRaw(RawOf(*query)), zero, option, via));
}

template <Entry via>
LONG HookPassThrough(ULONG a, ULONG b, ULONG c)
{
    return Model().passThrough(a, b, c, via);
}
template <Entry via>
BOOLEAN HookFunction(ULONG value)
{
    return static_cast<BOOLEAN>(Model().function(value, via));
}
template <Entry via>
ULONG HookGetFreeFramebufferSize()
{
    return Model().getFreeFramebufferSize(via);
}
template <Entry via>
VOID HookSetInitialValue()
{
    Model().setInitialValue(via);
}

// The table as the services driver holds it: the address Attach was given.
class HostHookTable : public sim::HookTable {
public:
    sim::TableView view() const override
    {
        const DllExt *const table = Shared().table;
        sim::TableView v;
        v.size = table->Size;
        const void *const slots[sim::kHookCount] = {
            reinterpret_cast<void *>(table->pfnInit),
            reinterpret_cast<void *>(table->pfnQueryMode),
            reinterpret_cast<void *>(table->pfnSetMode),
            reinterpret_cast<void *>(table->pfnPassThrough),
            reinterpret_cast<void *>(table->pfnFunction),
            reinterpret_cast<void *>(table->pfnGetFreeFramebufferSize),
            reinterpret_cast<void *>(table->pfnSetInitialValue),
            reinterpret_cast<void *>(table->pfnTvControl),
        };
        for (int h = 0; h < sim::kHookCount; ++h)
            if (slots[h] != nullptr)
                v.filled |= static_cast<uint8_t>(1u << h);
        v.tvControlIsRmx = table->pfnTvControl == &S_RMX_Control;
        return v;
    }

    void fill(sim::Hook hook, Entry entry) override
    {
        if (entry == Entry::Original)
            set<Entry::Original>(hook, true);
        else
            set<Entry::Replacement>(hook, true);
        Current().log->slotChanged(hook, true, entry);
    }
    void clear(sim::Hook hook) override
    {
        set<Entry::Original>(hook, false);
        Current().log->slotChanged(hook, false);
    }

private:
    template <Entry via>
    void set(sim::Hook hook, bool on)
    {
        DllExt *const table = Shared().table;
        switch (hook) {
        case sim::Hook::Init: table->pfnInit = on ? HookInit<via> : nullptr; break;
        case sim::Hook::QueryMode: table->pfnQueryMode = on ? HookQueryMode<via> : nullptr; break;
        case sim::Hook::SetMode: table->pfnSetMode = on ? HookSetMode<via> : nullptr; break;
        case sim::Hook::PassThrough: table->pfnPassThrough = on ? HookPassThrough<via> : nullptr; break;
        case sim::Hook::Function: table->pfnFunction = on ? HookFunction<via> : nullptr; break;
        case sim::Hook::GetFreeFramebufferSize:
            table->pfnGetFreeFramebufferSize = on ? HookGetFreeFramebufferSize<via> : nullptr;
            break;
        case sim::Hook::SetInitialValue: table->pfnSetInitialValue = on ? HookSetInitialValue<via> : nullptr; break;
        case sim::Hook::TvControl: table->pfnTvControl = on ? S_RMX_Control : nullptr; break;
        }
    }
};

HostHookTable g_table;

} // namespace

} // namespace hostsim

extern "C" ULONG Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    hostsim::Shared().table = Table;
    return hostsim::Model().attach(Context, Param, hostsim::g_table, AttachParam);
}

extern "C" ULONG AttachRMX(ULONG_PTR Context, ULONG_PTR Param)
{
    return hostsim::Model().attachRmx(Context, Param);
}

extern "C" ULONG S_RMX_Control(ULONG A, ULONG B, ULONG C)
{
    return hostsim::Model().tvControl(A, B, C);
}
