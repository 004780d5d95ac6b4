// A debug print's text as the kernel's DbgPrint would format it, from a
// format string and arguments in guest memory laid out as an i386 caller
// pushes them (each argument a 4-byte slot, a 64-bit one two).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "guest_format.h"

namespace {

// A little guest: bytes at addresses, and the arguments from kArgs on.
class Guest {
public:
    static constexpr uint32_t kFormat = 0x1000, kArgs = 0x2000, kStrings = 0x3000;

    emu::GuestReader reader() const
    {
        return [this](uint32_t address, void *out, uint32_t size) {
            for (uint32_t i = 0; i < size; ++i) {
                const auto b = bytes_.find(address + i);
                if (b == bytes_.end())
                    throw std::runtime_error("unmapped");
                static_cast<uint8_t *>(out)[i] = b->second;
            }
        };
    }
    void put(uint32_t address, const void *data, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            bytes_[address + static_cast<uint32_t>(i)] = static_cast<const uint8_t *>(data)[i];
    }
    // A narrow or wide string, zero-terminated, at the next free place; its address.
    uint32_t string(const std::string &s, bool wide = false)
    {
        const uint32_t at = next_;
        for (size_t i = 0; i <= s.size(); ++i) {
            const uint16_t c = i < s.size() ? static_cast<uint8_t>(s[i]) : 0;
            put(at + static_cast<uint32_t>(i * (wide ? 2 : 1)), &c, wide ? 2 : 1);
        }
        next_ += static_cast<uint32_t>((s.size() + 1) * (wide ? 2 : 1) + 16);
        return at;
    }
    std::string format(const std::string &fmt, const std::vector<uint32_t> &args)
    {
        const uint32_t f = string(fmt);
        put(kArgs, args.data(), 4 * args.size());
        return emu::FormatGuest(reader(), f, kArgs);
    }

private:
    std::map<uint32_t, uint8_t> bytes_;
    uint32_t next_ = kStrings;
};

TEST(GuestFormat, NumbersWithFlagsWidthsAndSizes)
{
    Guest g;
    EXPECT_EQ(g.format("%d %i %u", {0xFFFFFFFFu, 42, 0xFFFFFFFFu}), "-1 42 4294967295");
    EXPECT_EQ(g.format("[%5d|%-5d|%05d|%+d]", {42, 42, 42, 42}), "[   42|42   |00042|+42]");
    EXPECT_EQ(g.format("%x %X %08lx %#x %o", {0xBEEF, 0xBEEF, 0x1F, 255, 8}), "beef BEEF 0000001f 0xff 10");
    EXPECT_EQ(g.format("%hd %hu", {0x1FFFF, 0x1FFFF}), "-1 65535");
    // A 64-bit argument takes two slots, low half first.
    EXPECT_EQ(g.format("%I64x %llu then %u", {0x89ABCDEF, 0x01234567, 5, 0, 7}), "123456789abcdef 5 then 7");
    EXPECT_EQ(g.format("%*d|%.3d", {6, 42, 7}), "    42|007");
    EXPECT_EQ(g.format("%hhx %hhd %hhu", {0x1FF, 0x80, 0x180}), "ff -128 128");
    EXPECT_EQ(g.format("%p", {0x1234}), "00001234");
    EXPECT_EQ(g.format("100%% %c%c", {'o', 'k'}), "100% ok");
}

TEST(GuestFormat, StringsNarrowWideAndCounted)
{
    Guest g;
    const uint32_t narrow = g.string("adapter"), wide = g.string("AttachParam", true);
    EXPECT_EQ(g.format("%s: %S, %ws, %ls", {narrow, wide, wide, wide}), "adapter: AttachParam, AttachParam, AttachParam");
    EXPECT_EQ(g.format("[%10s|%-4s|%.3s]", {narrow, narrow, narrow}), "[   adapter|adapter|ada]");
    EXPECT_EQ(g.format("%s", {0}), "(null)");
    // A negative width from the arguments left-justifies; a negative precision is none.
    EXPECT_EQ(g.format("[%*s|%.*s]", {static_cast<uint32_t>(-9), narrow, static_cast<uint32_t>(-1), narrow}),
              "[adapter  |adapter]");
    // A UNICODE_STRING counts its bytes and needs no terminator.
    const uint32_t buffer = g.string("Device0xyz", true);
    const uint32_t counted[2] = {(14u << 16) | 14u, buffer};  // Length 14 bytes: 7 characters
    g.put(0x4000, counted, sizeof counted);
    EXPECT_EQ(g.format("%wZ.", {0x4000}), "Device0.");
    // Control characters other than newline and tab are shown as '?'.
    EXPECT_EQ(g.format("%s", {g.string("a\x01" "b\tc")}), "a?b\tc");
}

TEST(GuestFormat, EveryReadIsBoundedAndAnUnknownConversionStaysAsWritten)
{
    Guest g;
    EXPECT_EQ(g.format("%q and %", {1}), "%q and %");
    // A string with no end stops at the longest a %s may take.
    std::string endless(5000, 'x');
    g.put(0x9000, endless.data(), endless.size());
    EXPECT_EQ(g.format("%s", {0x9000}).size(), emu::kLongestDebugString);
    // So does the whole text.
    std::vector<uint32_t> args(200, 0x9000);
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "%.500s";
    EXPECT_EQ(g.format(many, args).size(), emu::kLongestDebugText);
    // A width or precision from the arguments is held to 512 characters.
    EXPECT_EQ(g.format("%*d", {0x7FFFFFFF, 1}).size(), 512u);
    EXPECT_EQ(g.format("%.*d", {0x7FFFFFFF, 1}).size(), 512u);
    EXPECT_EQ(g.format("%*s", {0x80000000u, g.string("x")}).size(), 512u);
    // A string in no guest memory is the reader's failure, as the CPU's would be.
    EXPECT_THROW(g.format("%s", {0xDEAD0000u}), std::runtime_error);
}

} // namespace
