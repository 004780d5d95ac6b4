// The host build's surroundings: a simulated kernel pool and the two sibling
// drivers, linked into any host program that links the module.  They serve
// whatever adapter model, call log and pool ledger are bound.
#ifndef ZERVAL_HOST_DOUBLES_H
#define ZERVAL_HOST_DOUBLES_H

#include "adapter.h"
#include "call_log.h"
#include "pool_ledger.h"
#include "zerval_hooks.h"

namespace hostsim {

struct Binding {
    sim::Adapter *adapter = nullptr;
    sim::CallLog *log = nullptr;
    sim::PoolLedger *pool = nullptr;
};

// Binds the doubles; calls that arrive unbound abort with a message.
void Bind(const Binding &binding);

// Frees every host allocation still live (the published arrays), forgets the
// table handed to Attach and unbinds.  Call between runs.
void Release();
// Whether these are the doubles' current binding.
bool IsBound(const Binding &binding);

// The hook table the services driver was last handed, as the services driver
// keeps it; null before any Attach.
DllExt *AttachedTable();

// While one lives, the module has been entered from the frame it names: a
// record the module hands to a hook must lie below that frame, in the
// module's own frames.  Without one, the top of the thread's stack serves.
class EnteredFrom {
public:
    explicit EnteredFrom(const void *callerFrame);
    ~EnteredFrom();
    EnteredFrom(const EnteredFrom &) = delete;
    EnteredFrom &operator=(const EnteredFrom &) = delete;

private:
    const void *outer_;
};

} // namespace hostsim

#endif
