// The interrupt request levels a call into an image runs at, as the kernel
// names them.  The machine holds the image to what they allow: no paged-pool
// request above APC_LEVEL (the kernel's BAD_POOL_CALLER), and no touch of
// paged pool at DISPATCH_LEVEL or above (with the driver verifier trimming
// pageable memory at every raise, IRQL_NOT_LESS_OR_EQUAL on the first touch).
#ifndef ZERVAL_EMU_IRQL_H
#define ZERVAL_EMU_IRQL_H

#include <cstdint>
#include <optional>
#include <string>

namespace emu {

enum class Irql : uint8_t { Passive = 0, Apc = 1, Dispatch = 2 };

// "PASSIVE_LEVEL", "APC_LEVEL", "DISPATCH_LEVEL".
const char *IrqlName(Irql irql);
// A name as above (any case), or the level's number 0 to 2.
std::optional<Irql> ParseIrql(const std::string &text);

// The highest level at which paged pool may be allocated or freed, and the
// lowest at which it may not be touched.
constexpr Irql kMostForPagedPool = Irql::Apc;
constexpr Irql kPagedPoolUntouchable = Irql::Dispatch;

// The pool types whose memory is pageable: PagedPool and its variants carry
// the base type's bit 0.
constexpr bool IsPagedPool(uint32_t poolType) { return (poolType & 1u) != 0; }

} // namespace emu

#endif
