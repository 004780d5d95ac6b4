// The kernel's run-time routines a driver's compiler or its author calls: the
// memory routines ntoskrnl.exe exports (the cdecl memcpy, memset and memmove
// a compiler emits for a struct copy or an array initialiser, and the
// stdcall Rtl ones), the pool free with a tag, and the debug print.  Each
// handler holds the guest's memory to what the CPU would allow the caller.
#include "machine.h"

#include <unicorn/unicorn.h>

#include "guest_format.h"

namespace emu {

namespace {

constexpr uint32_t kLargestCopy = 256u << 20;

} // namespace

void Machine::requireAccess(uint32_t address, uint32_t size, bool write) const
{
    if (size == 0)
        return;
    if (size > kLargestCopy)
        throw Fault(std::to_string(size) + " bytes at " + pe::Hex(address) + ", more than any mapped range");
    uc_mem_region *regions = nullptr;
    uint32_t count = 0;
    CheckEngine(uc_mem_regions(uc(), &regions, &count), "memory regions");
    uint64_t at = address;
    const uint64_t end = uint64_t{address} + size;
    std::string wrong;
    while (at < end && wrong.empty()) {
        const uc_mem_region *in = nullptr;
        for (uint32_t i = 0; i < count && in == nullptr; ++i)
            if (at >= regions[i].begin && at <= regions[i].end)
                in = &regions[i];
        if (in == nullptr)
            wrong = std::string(write ? "write to" : "read of") + " unmapped memory at " + pe::Hex(static_cast<uint32_t>(at));
        else if ((in->perms & (write ? UC_PROT_WRITE : UC_PROT_READ)) == 0)
            wrong = std::string(write ? "write to read-only" : "read of unreadable") + " memory at " +
                    pe::Hex(static_cast<uint32_t>(at));
        else
            at = in->end + 1;
    }
    uc_free(regions);
    if (!wrong.empty()) {
        const VideoPort::Buffer *b = videoPort_.bufferBefore(static_cast<uint32_t>(at));
        throw Fault(wrong + (b != nullptr ? " past the end of the " + std::to_string(b->bytes) + "-byte " + b->what : "") +
                    " (" + std::to_string(size) + " bytes from " + pe::Hex(address) + ")");
    }
}

void Machine::debugPrint(const ServedCall &c, const std::string &text)
{
    const std::string image = c.fromNeighbour() ? moduleName(c.caller) : std::string("zerval.sys");
    std::string shown = text;
    while (!shown.empty() && shown.back() == '\n')
        shown.pop_back();
    describeServed("debug print: \"" + shown + "\"");
    if (!debugSink_)
        return;
    size_t from = 0;
    do {
        const size_t nl = shown.find('\n', from);
        debugSink_(image + ": " + shown.substr(from, nl == std::string::npos ? std::string::npos : nl - from));
        from = nl == std::string::npos ? shown.size() + 1 : nl + 1;
    } while (from <= shown.size());
}

// Guest memory copied as memmove does (overlap allowed) and filled, both
// held to the caller's access.
void Machine::copyMemory(uint32_t to, uint32_t from, uint32_t bytes)
{
    requireAccess(from, bytes, false);
    requireAccess(to, bytes, true);
    std::vector<uint8_t> data(bytes);
    if (bytes != 0) {
        read(from, data.data(), bytes);
        write(to, data.data(), bytes);
    }
}

void Machine::fillMemory(uint32_t to, uint32_t bytes, uint8_t value)
{
    requireAccess(to, bytes, true);
    const std::vector<uint8_t> fill(bytes, value);
    if (bytes != 0)
        write(to, fill.data(), bytes);
}

const Machine::Served Machine::kRuntimeServed[] = {
    // cdecl, as the C library's: the caller pops; each answers its destination.
    Cdecl("ntoskrnl.exe", "memcpy",
          [](Machine &m, const ServedCall &c) {
              const uint32_t to = m.argAt(c.esp, 0);
              m.copyMemory(to, m.argAt(c.esp, 1), m.argAt(c.esp, 2));
              return to;
          }),
    Cdecl("ntoskrnl.exe", "memmove",
          [](Machine &m, const ServedCall &c) {
              const uint32_t to = m.argAt(c.esp, 0);
              m.copyMemory(to, m.argAt(c.esp, 1), m.argAt(c.esp, 2));
              return to;
          }),
    Cdecl("ntoskrnl.exe", "memset",
          [](Machine &m, const ServedCall &c) {
              const uint32_t to = m.argAt(c.esp, 0);
              m.fillMemory(to, m.argAt(c.esp, 2), static_cast<uint8_t>(m.argAt(c.esp, 1)));
              return to;
          }),
    // stdcall: RtlMoveMemory(Destination, Source, Length), RtlZeroMemory(Destination,
    // Length), RtlFillMemory(Destination, Length, Fill).
    {"ntoskrnl.exe", "RtlMoveMemory", 12,
     [](Machine &m, const ServedCall &c) {
         m.copyMemory(c.args[0], c.args[1], c.args[2]);
         return 0u;
     }},
    {"ntoskrnl.exe", "RtlZeroMemory", 8,
     [](Machine &m, const ServedCall &c) {
         m.fillMemory(c.args[0], c.args[1], 0);
         return 0u;
     }},
    {"ntoskrnl.exe", "RtlFillMemory", 12,
     [](Machine &m, const ServedCall &c) {
         m.fillMemory(c.args[0], c.args[1], static_cast<uint8_t>(c.args[2]));
         return 0u;
     }},

    // ExFreePoolWithTag(P, Tag): the tag must be the one the block was allocated with.
    {"ntoskrnl.exe", "ExFreePoolWithTag", 8,
     [](Machine &m, const ServedCall &c) {
         m.freeAny(c, c.args[0], c.args[1]);
         return 0u;
     }},

    // DbgPrint(Format, ...), cdecl: the text on the debug sink and in the trace.
    Cdecl("ntoskrnl.exe", "DbgPrint",
          [](Machine &m, const ServedCall &c) {
              const GuestReader read = [&m](uint32_t a, void *out, uint32_t n) { m.read(a, out, n); };
              m.debugPrint(c, FormatGuest(read, m.argAt(c.esp, 0), c.esp + 8));
              return 0u;  // STATUS_SUCCESS
          }),
};

const size_t Machine::kRuntimeServedCount = std::size(kRuntimeServed);

} // namespace emu
