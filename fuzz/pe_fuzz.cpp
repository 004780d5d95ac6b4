// libFuzzer target over the reader of user-supplied images (`--image`): the
// PE reader, then the emulator's loader.  Any input is either loaded or
// refused with one clear line (BadImage from the reader, emu::Error from the
// loader); no other exception, crash,
// sanitizer report or hang.  The image is loaded, not run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "call_log.h"
#include "machine.h"
#include "pe_image.h"
#include "pool_ledger.h"

namespace {

[[noreturn]] void Finding(const std::string &what)
{
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::abort();
}

// One line, not empty, readable, not a wall of text.
void CheckRefusal(const char *stage, const std::string &message)
{
    if (message.empty())
        Finding(std::string(stage) + " refused the input with an empty message");
    if (message.size() > 200)
        Finding(std::string(stage) + " refused the input with a message of " + std::to_string(message.size()) +
                " characters: " + message.substr(0, 200));
    for (unsigned char c : message)
        if (c < 0x20 || c > 0x7E)
            Finding(std::string(stage) + " refused the input with a control or non-ASCII character in: " + message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pe::Image image;
    try {
        image = pe::Parse(std::vector<uint8_t>(data, data + size));
    } catch (const pe::BadImage &e) {
        CheckRefusal("the PE reader", e.what());
        return 0;
    } catch (const std::exception &e) {
        Finding(std::string("the PE reader threw something other than BadImage: ") + e.what());
    }

    sim::CallLog log;
    sim::PoolLedger pool;
    sim::Adapter adapter(log);
    try {
        emu::Machine machine(image, adapter, log, pool);
    } catch (const emu::Error &e) {
        CheckRefusal("the loader", e.what());
    } catch (const std::exception &e) {
        Finding(std::string("the loader threw something other than emu::Error: ") + e.what());
    }
    return 0;
}
