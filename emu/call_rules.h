// The rules every call into an image is held to on its return, the same for
// a call from the host into an image and for a call between two images: the
// callee pops exactly its stdcall argument bytes and hands back EBX, ESI, EDI
// and EBP as it found them.  And the rule for what the module hands a hook:
// a record lies in the frames of the code calling it.
#ifndef ZERVAL_EMU_CALL_RULES_H
#define ZERVAL_EMU_CALL_RULES_H

#include <cstdint>
#include <string>

#include "callee_saved.h"

namespace emu {

// A call as its callee's first instruction finds it.
struct CallFrame {
    uint32_t esp = 0;       // at the return address
    uint32_t argBytes = 0;  // what the callee must pop
    uint32_t saved[kSavedRegisterCount] = {};  // in kSavedRegisters order
};

// The frame of a call entered now, with the stack pointer at `esp`.
CallFrame FrameOfCall(uc_engine *uc, uint32_t esp, uint32_t argBytes);

// What the return broke ("stack unbalanced: the callee popped 12 bytes of
// arguments, stdcall wants 16", "EBX not preserved (0x1 on return, 0xb0b0b0b0
// at the call)"), empty when it kept both rules; `espAfter` is ESP back in the
// caller.
std::string ReturnBreach(uc_engine *uc, const CallFrame &frame, uint32_t espAfter);

// Where a record handed to a hook may lie: above the hook's return address and
// its own arguments (`hookEsp`, `hookArgBytes`), and below the entry's return
// address (`entryEsp`).  What is wrong with one at `address`, or empty.
std::string RecordOutsideFrames(uint32_t address, uint32_t size, uint32_t hookEsp, uint32_t hookArgBytes,
                                uint32_t entryEsp);

} // namespace emu

#endif
