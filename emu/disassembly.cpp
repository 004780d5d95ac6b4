#include "disassembly.h"

#include "error.h"
#include "x86_decoder.h"

#include <Zydis/Formatter.h>

#include <algorithm>
#include <cstdio>

namespace emu {

namespace {

const ZydisFormatter &Formatter()
{
    static const ZydisFormatter formatter = [] {
        ZydisFormatter f;
        const bool ok = ZYAN_SUCCESS(ZydisFormatterInit(&f, ZYDIS_FORMATTER_STYLE_INTEL)) &&
                        ZYAN_SUCCESS(ZydisFormatterSetProperty(&f, ZYDIS_FORMATTER_PROP_FORCE_SIZE, ZYAN_TRUE)) &&
                        ZYAN_SUCCESS(ZydisFormatterSetProperty(&f, ZYDIS_FORMATTER_PROP_HEX_UPPERCASE, ZYAN_FALSE)) &&
                        ZYAN_SUCCESS(ZydisFormatterSetProperty(&f, ZYDIS_FORMATTER_PROP_ADDR_PADDING_ABSOLUTE,
                                                               ZYDIS_PADDING_DISABLED)) &&
                        ZYAN_SUCCESS(ZydisFormatterSetProperty(&f, ZYDIS_FORMATTER_PROP_DISP_PADDING,
                                                               ZYDIS_PADDING_DISABLED)) &&
                        ZYAN_SUCCESS(ZydisFormatterSetProperty(&f, ZYDIS_FORMATTER_PROP_IMM_PADDING,
                                                               ZYDIS_PADDING_DISABLED));
        if (!ok)
            throw Error("the i386 formatter could not be set up");
        return f;
    }();
    return formatter;
}

std::string NotDecodable(const uint8_t *bytes, size_t size)
{
    std::string text = "(bytes not decodable:";
    for (size_t i = 0; i < std::min<size_t>(size, kLongestInstruction); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        text += hex;
    }
    return text + ")";
}

} // namespace

std::string Disassemble(const uint8_t *bytes, size_t size, uint32_t address)
{
    ZydisDecodedInstruction in;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeFull(&I386Decoder(), bytes, size, &in, operands)))
        return NotDecodable(bytes, size);
    char text[256];
    if (!ZYAN_SUCCESS(ZydisFormatterFormatInstruction(&Formatter(), &in, operands, in.operand_count_visible, text,
                                                      sizeof text, address, nullptr)))
        return NotDecodable(bytes, in.length);
    return text;
}

} // namespace emu
