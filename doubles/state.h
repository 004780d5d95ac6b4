// What the host doubles share: the binding, the live host allocations, the
// table the services driver was handed and the frame the module was entered
// from.  The kernel (kernel.cpp) and the sibling drivers (siblings.cpp) each
// use it, and neither uses the other.
#ifndef ZERVAL_DOUBLES_STATE_H
#define ZERVAL_DOUBLES_STATE_H

#include <cstddef>
#include <cstdint>
#include <map>

#include "host_doubles.h"

namespace hostsim {

struct State {
    Binding binding;
    std::map<uintptr_t, size_t> blocks;  // live host allocations, by address
    DllExt *table = nullptr;             // what the services driver's Attach was given
    const void *callerFrame = nullptr;   // see EnteredFrom
};
State &Shared();

// The binding; aborts with a message when nothing is bound.
const Binding &Current();

} // namespace hostsim

#endif
