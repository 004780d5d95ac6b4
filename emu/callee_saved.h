// The registers a stdcall function must hand back as it found them: checked
// on every return to the host and on every return between two images.
#ifndef ZERVAL_EMU_CALLEE_SAVED_H
#define ZERVAL_EMU_CALLEE_SAVED_H

#include <unicorn/unicorn.h>

namespace emu {

struct SavedRegister {
    int id;  // the engine's register number
    const char *name;
};

constexpr SavedRegister kSavedRegisters[] = {
    {UC_X86_REG_EBX, "EBX"}, {UC_X86_REG_ESI, "ESI"}, {UC_X86_REG_EDI, "EDI"}, {UC_X86_REG_EBP, "EBP"}};
constexpr int kSavedRegisterCount = static_cast<int>(sizeof kSavedRegisters / sizeof kSavedRegisters[0]);

} // namespace emu

#endif
