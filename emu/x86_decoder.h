// The one decoder of i386 code the emulator reads with: 32-bit protected
// mode with a 32-bit stack, as every image it loads runs.  Made once, on first
// use; decoding with it changes nothing in it.
#ifndef ZERVAL_EMU_X86_DECODER_H
#define ZERVAL_EMU_X86_DECODER_H

#include <Zydis/Decoder.h>

#include <cstdint>

namespace emu {

// The most bytes one instruction may have, prefixes included.
constexpr uint32_t kLongestInstruction = 15;

const ZydisDecoder &I386Decoder();

} // namespace emu

#endif
