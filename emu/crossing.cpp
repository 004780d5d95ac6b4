#include "crossing.h"

#include "pe_image.h"

namespace emu {

std::string DescribeCalled(const Crossing &c)
{
    std::string s = c.callee.empty() ? c.entry + "(" : c.callee + "!" + c.entry + "(";
    for (size_t i = 0; i < c.args.size(); ++i) {
        if (i != 0)
            s += ", ";
        if (i == 0 && c.queryIn)
            s += sim::DescribeQuery(*c.queryIn);
        else if (i == 0 && c.recordBytes != 0)
            s += "buffer[" + std::to_string(c.recordBytes) + "] at " + pe::Hex(c.args[i]);
        else
            s += pe::Hex(c.args[i]);
    }
    return s + ")";
}

std::string Describe(const Crossing &c)
{
    std::string s = c.callee.empty() ? DescribeCalled(c) : c.caller + " -> " + DescribeCalled(c);
    if (!c.returned)
        return s + " did not return";
    if (c.resultBytes != 0)
        s += " = " + pe::Hex(c.resultBytes == 1 ? c.result & 0xFFu : c.result);
    if (c.queryOut)
        s += " -> " + sim::DescribeQuery(*c.queryOut);
    if (c.tableAfter) {
        std::string filled;
        for (int h = 0; h < sim::kHookCount; ++h)
            if (c.tableAfter->has(static_cast<sim::Hook>(h)))
                filled += (filled.empty() ? "" : ", ") + std::string(sim::kHookNames[h]);
        s += " -> table{Size=" + std::to_string(c.tableAfter->size) + (filled.empty() ? ", all empty" : ", " + filled) +
             "}";
    }
    return s;
}

} // namespace emu
