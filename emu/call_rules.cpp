#include "call_rules.h"

#include "pe_image.h"

namespace emu {

CallFrame FrameOfCall(uc_engine *uc, uint32_t esp, uint32_t argBytes)
{
    CallFrame f;
    f.esp = esp;
    f.argBytes = argBytes;
    for (int r = 0; r < kSavedRegisterCount; ++r)
        uc_reg_read(uc, kSavedRegisters[r].id, &f.saved[r]);
    return f;
}

std::string ReturnBreach(uc_engine *uc, const CallFrame &f, uint32_t espAfter)
{
    if (espAfter != f.esp + 4 + f.argBytes) {
        const int32_t popped = static_cast<int32_t>(espAfter - (f.esp + 4));
        return "stack unbalanced: the callee popped " + std::to_string(popped) + " bytes of arguments, stdcall wants " +
               std::to_string(f.argBytes) + (popped == 0 && f.argBytes != 0 ? " (is it __cdecl?)" : "");
    }
    for (int r = 0; r < kSavedRegisterCount; ++r) {
        uint32_t v = 0;
        uc_reg_read(uc, kSavedRegisters[r].id, &v);
        if (v != f.saved[r])
            return std::string(kSavedRegisters[r].name) + " not preserved (" + pe::Hex(v) + " on return, " +
                   pe::Hex(f.saved[r]) + " at the call)";
    }
    return {};
}

std::string RecordOutsideFrames(uint32_t address, uint32_t size, uint32_t hookEsp, uint32_t hookArgBytes,
                                uint32_t entryEsp)
{
    const uint64_t low = uint64_t{hookEsp} + 4 + hookArgBytes;
    const uint64_t end = uint64_t{address} + size;
    if (address >= low && end <= entryEsp)
        return {};
    return "handed a " + std::to_string(size) + "-byte record at " + pe::Hex(address) +
           ", outside the caller's stack frame (" + pe::Hex(low) + " to " + pe::Hex(entryEsp) + ")";
}

} // namespace emu
