// What the display driver hands the module by address: the result byte of
// lDllAttach, the mode record of vValidateMode and SetMode.  The module may
// write inside such a block (SetMode not even there) and nowhere around it:
// the bytes beside it are the display driver's own.  Both backends put each
// block among bytes of a fill pattern and find what changed there; the
// emulator also ends each block against an unmapped page.
#ifndef ZERVAL_HARNESS_CALLER_BYTES_H
#define ZERVAL_HARNESS_CALLER_BYTES_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace caller {

// Neither 0 nor any value the module writes (0, 80), so that a stray write of
// them shows.
constexpr uint8_t kFill = 0xA5;
// How many bytes the host backend guards on either side of a block: more than
// the widest store the module could make past it.
constexpr size_t kHostSlack = 32;

// "the 1-byte result byte", "the 80-byte mode record".
inline std::string Block(const char *what, size_t size) { return "the " + std::to_string(size) + "-byte " + what; }

// The first byte of `now` that differs from `before`, as "byte -1 (0xa5 ->
// 0x00)" with its offset from the block's start at `offset0`; empty when none
// differs.
inline std::string FirstChange(const std::vector<uint8_t> &before, const std::vector<uint8_t> &now, long offset0)
{
    for (size_t i = 0; i < before.size() && i < now.size(); ++i)
        if (before[i] != now[i]) {
            char text[64];
            std::snprintf(text, sizeof text, "byte %+ld (0x%02x -> 0x%02x)", offset0 + static_cast<long>(i),
                          before[i], now[i]);
            return text;
        }
    return "";
}

// A block of the display driver's on the host, copied in from `content`,
// with kHostSlack bytes of fill on either side.
class HostBlock {
public:
    HostBlock(const void *content, size_t size) : size_(size), bytes_(size + 2 * kHostSlack, kFill)
    {
        std::memcpy(data(), content, size);
        entered_ = bytes_;
    }
    uint8_t *data() { return bytes_.data() + kHostSlack; }
    void copyOut(void *out) const { std::memcpy(out, bytes_.data() + kHostSlack, size_); }

    // What `entry` changed outside the block, and with `readOnly` inside it
    // too: one line for the call log's breaches, empty when nothing.
    std::string breach(const std::string &entry, const char *what, bool readOnly = false) const
    {
        const std::vector<uint8_t> below(entered_.begin(), entered_.begin() + kHostSlack);
        const std::vector<uint8_t> belowNow(bytes_.begin(), bytes_.begin() + kHostSlack);
        const std::vector<uint8_t> above(entered_.end() - kHostSlack, entered_.end());
        const std::vector<uint8_t> aboveNow(bytes_.end() - kHostSlack, bytes_.end());
        std::string change = FirstChange(below, belowNow, -static_cast<long>(kHostSlack));
        if (change.empty())
            change = FirstChange(above, aboveNow, static_cast<long>(size_));
        if (!change.empty())
            return entry + ": wrote outside " + Block(what, size_) + " it was handed: " + change;
        if (readOnly) {
            const std::vector<uint8_t> inside(entered_.begin() + kHostSlack, entered_.end() - kHostSlack);
            const std::vector<uint8_t> insideNow(bytes_.begin() + kHostSlack, bytes_.end() - kHostSlack);
            change = FirstChange(inside, insideNow, 0);
            if (!change.empty())
                return entry + ": wrote into " + Block(what, size_) + " it was handed to read only: " + change;
        }
        return "";
    }

private:
    size_t size_;
    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> entered_;  // as the module was entered
};

} // namespace caller

#endif
