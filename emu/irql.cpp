#include "irql.h"

#include <cctype>

namespace emu {

namespace {

constexpr const char *kNames[] = {"PASSIVE_LEVEL", "APC_LEVEL", "DISPATCH_LEVEL"};

} // namespace

const char *IrqlName(Irql irql) { return kNames[static_cast<int>(irql)]; }

std::optional<Irql> ParseIrql(const std::string &text)
{
    std::string upper;
    for (char c : text)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int level = 0; level < static_cast<int>(std::size(kNames)); ++level)
        if (upper == kNames[level] || upper == std::to_string(level))
            return static_cast<Irql>(level);
    return std::nullopt;
}

} // namespace emu
