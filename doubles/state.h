// Shared between the host doubles' translation units.
#ifndef ZERVAL_HOST_STATE_H
#define ZERVAL_HOST_STATE_H

#include <cstdint>
#include <map>

#include "host_doubles.h"

namespace hostsim {

const Binding &Current();
std::map<uintptr_t, size_t> &HostBlocks();

} // namespace hostsim

#endif
