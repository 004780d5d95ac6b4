#include "x86_decoder.h"

#include "error.h"

namespace emu {

const ZydisDecoder &I386Decoder()
{
    static const ZydisDecoder decoder = [] {
        ZydisDecoder d;
        if (!ZYAN_SUCCESS(ZydisDecoderInit(&d, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32)))
            throw Error("the i386 decoder could not be set up");
        return d;
    }();
    return decoder;
}

} // namespace emu
