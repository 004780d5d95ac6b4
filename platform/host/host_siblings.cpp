// The services driver (kelv.sys) and TV driver (rmx.sys) for the host build:
// real C entries and hooks that marshal to the bound adapter model.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_doubles.h"
#include "host_state.h"
#include "platform.h"

namespace hostsim {

namespace {

Binding g_binding;

sim::Adapter &Model() { return *Current().adapter; }

sim::RawQuery RawOf(const ModeQuery &query)
{
    static_assert(sizeof(ModeQuery) == sizeof(sim::RawQuery), "ModeQuery is the 16 raw bytes");
    sim::RawQuery raw;
    std::memcpy(raw.data(), &query, raw.size());
    return raw;
}

BOOLEAN HookInit(PVOID buffer)
{
    sim::InitBuffer copy;
    std::memcpy(copy.data(), buffer, copy.size());
    return static_cast<BOOLEAN>(Model().init(copy));
}

BOOLEAN HookQueryMode(ModeQuery *query, ULONG zero)
{
    const sim::RawQuery raw = RawOf(*query);
    sim::Query v = sim::FromRaw(raw);
    const uint32_t r = Model().queryMode(v, zero, &raw);
    const sim::RawQuery answer = sim::ToRaw(v);
    std::memcpy(query, answer.data(), answer.size());
    return static_cast<BOOLEAN>(r);
}

BOOLEAN HookSetMode(ModeQuery *query, ULONG zero, ULONG option)
{
    return static_cast<BOOLEAN>(Model().setMode(sim::FromRaw(RawOf(*query)), zero, option));
}

LONG HookPassThrough(ULONG a, ULONG b, ULONG c) { return Model().passThrough(a, b, c); }
BOOLEAN HookFunction(ULONG value) { return static_cast<BOOLEAN>(Model().function(value)); }
ULONG HookGetFreeFramebufferSize() { return Model().getFreeFramebufferSize(); }
VOID HookSetInitialValue() { Model().setInitialValue(); }

// The table as the services driver holds it: the address Attach was given.
class HostHookTable : public sim::HookTable {
public:
    DllExt *table = nullptr;

    sim::TableView view() const override
    {
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

    void fill(sim::Hook hook) override { set(hook, true); }
    void clear(sim::Hook hook) override { set(hook, false); }

private:
    void set(sim::Hook hook, bool on)
    {
        switch (hook) {
        case sim::Hook::Init: table->pfnInit = on ? HookInit : nullptr; break;
        case sim::Hook::QueryMode: table->pfnQueryMode = on ? HookQueryMode : nullptr; break;
        case sim::Hook::SetMode: table->pfnSetMode = on ? HookSetMode : nullptr; break;
        case sim::Hook::PassThrough: table->pfnPassThrough = on ? HookPassThrough : nullptr; break;
        case sim::Hook::Function: table->pfnFunction = on ? HookFunction : nullptr; break;
        case sim::Hook::GetFreeFramebufferSize:
            table->pfnGetFreeFramebufferSize = on ? HookGetFreeFramebufferSize : nullptr;
            break;
        case sim::Hook::SetInitialValue: table->pfnSetInitialValue = on ? HookSetInitialValue : nullptr; break;
        case sim::Hook::TvControl: table->pfnTvControl = on ? S_RMX_Control : nullptr; break;
        }
    }
};

HostHookTable g_table;

} // namespace

const Binding &Current()
{
    if (g_binding.adapter == nullptr || g_binding.log == nullptr || g_binding.pool == nullptr) {
        std::fprintf(stderr, "host doubles: called before hostsim::Bind\n");
        std::abort();
    }
    return g_binding;
}

void Bind(const Binding &binding) { g_binding = binding; }

bool IsBound(const Binding &binding)
{
    return g_binding.adapter == binding.adapter && g_binding.log == binding.log && g_binding.pool == binding.pool;
}

void Release()
{
    for (auto &block : HostBlocks())
        std::free(reinterpret_cast<void *>(block.first));
    HostBlocks().clear();
    g_table.table = nullptr;
    if (g_binding.adapter != nullptr)
        g_binding.adapter->forgetTable();
    g_binding = Binding{};
}

DllExt *AttachedTable() { return g_table.table; }

} // namespace hostsim

extern "C" ULONG Attach(ULONG_PTR Context, ULONG_PTR Param, DllExt *Table, ULONG_PTR AttachParam)
{
    hostsim::g_table.table = Table;
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
