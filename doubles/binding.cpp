// The host doubles' binding to an adapter model, a call log and a pool
// ledger, and the state the kernel and the sibling drivers share.
#include <cstdio>
#include <cstdlib>

#include "state.h"

namespace hostsim {

State &Shared()
{
    static State state;
    return state;
}

const Binding &Current()
{
    const Binding &b = Shared().binding;
    if (b.adapter == nullptr || b.log == nullptr || b.pool == nullptr) {
        std::fprintf(stderr, "host doubles: called before hostsim::Bind\n");
        std::abort();
    }
    return b;
}

void Bind(const Binding &binding) { Shared().binding = binding; }

bool IsBound(const Binding &binding)
{
    const Binding &b = Shared().binding;
    return b.adapter == binding.adapter && b.log == binding.log && b.pool == binding.pool;
}

void Release()
{
    State &s = Shared();
    for (const auto &block : s.blocks)
        std::free(reinterpret_cast<void *>(block.first));
    s.blocks.clear();
    s.table = nullptr;
    if (s.binding.adapter != nullptr)
        s.binding.adapter->forgetTable();
    s.binding = Binding{};
}

DllExt *AttachedTable() { return Shared().table; }

EnteredFrom::EnteredFrom(const void *callerFrame) : outer_(Shared().callerFrame)
{
    Shared().callerFrame = callerFrame;
}
EnteredFrom::~EnteredFrom() { Shared().callerFrame = outer_; }

} // namespace hostsim
