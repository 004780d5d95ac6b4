// The machine with real images next to the module: loading them, and holding
// every call between two images to the rules the machine applies to a call
// from the host into the module - stdcall balance, callee-saved registers -
// and, for the services driver's hooks, to the records-in-the-caller's-frame
// rule.
#include "machine.h"

#include "callee_saved.h"
#include "fpu_simd.h"

#include <unicorn/unicorn.h>

#include <algorithm>

namespace emu {

namespace {

constexpr uint32_t kImageSlot = 0x00400000;  // room for one neighbour

// Records the module hands to the services driver's hooks.
struct HandedRecord {
    sim::Hook hook;
    uint32_t bytes;
};
constexpr HandedRecord kHandedRecords[] = {{sim::Hook::Init, sizeof(sim::InitBuffer)},
                                           {sim::Hook::QueryMode, sizeof(sim::RawQuery)},
                                           {sim::Hook::SetMode, sizeof(sim::RawQuery)}};

bool EndsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

void Machine::loadNeighbours()
{
    if (neighbours_.empty())
        return;
    loaded_.push_back(LoadedImage{"zerval.sys", &image_, kLoadBase, MappedSize(image_)});
    uint32_t base = kNeighbourBase;
    for (const Neighbour &n : neighbours_) {
        for (const LoadedImage &l : loaded_)
            if (SameModule(l.module, n.module))
                throw Error("two images named " + n.module);
        if (n.image.sizeOfImage > kImageSlot)
            throw Error(n.module + ": image larger than " + std::to_string(kImageSlot) + " bytes");
        try {
            const uint32_t size = MapImage(uc(), n.image, base);
            loaded_.push_back(LoadedImage{n.module, &n.image, base, size});
        } catch (const Error &e) {
            throw Error(n.module + ": " + e.what());
        }
        base += kImageSlot;
    }
    for (size_t i = 1; i < loaded_.size(); ++i) {
        const LoadedImage &l = loaded_[i];
        for (const pe::Import &import : l.image->imports) {
            const uint32_t target = bindImport(l.module, import);
            write(l.base + import.iatRva, &target, 4);
        }
        ProtectImage(uc(), *l.image, l.base, l.size);
        watchNeighbour(l);
        neighbourChecked_.emplace_back(l.size, false);
    }
}

void Machine::onNeighbourInstruction(uint32_t address, uint32_t size)
{
    for (size_t i = 1; i < loaded_.size(); ++i) {
        const LoadedImage &l = loaded_[i];
        if (!l.contains(address))
            continue;
        crossing(i, address);
        std::vector<bool> &checked = neighbourChecked_[i - 1];
        if (!checked[address - l.base]) {
            checked[address - l.base] = true;
            uint8_t bytes[16] = {};
            const uint32_t n = std::min<uint32_t>(size, sizeof bytes);
            read(address, bytes, n);
            if (const char *use = FpuOrSimdUse(bytes, n))
                fail(l.module + ": " + use + " instruction at " + pe::Hex(address) +
                     ": kernel code may not use the floating-point or SIMD registers");
        }
        uint32_t esp = 0;
        uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
        minEsp_ = std::min(minEsp_, esp);
        return;
    }
}

void Machine::crossing(size_t image, uint32_t address)
{
    static_assert(sizeof(CrossCall::saved) == sizeof(uint32_t) * kSavedRegisterCount,
                  "a call keeps every callee-saved register");
    if (image == current_)
        return;
    const size_t from = current_;
    current_ = image;
    if (from == SIZE_MAX)
        return;  // the host's call into the first image
    uint32_t esp = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    try {
        if (!crossings_.empty() && crossings_.back().returnAddress == address) {
            const CrossCall c = crossings_.back();
            crossings_.pop_back();
            if (esp != c.esp + 4 + c.argBytes)
                throw Fault(c.name + ": stack unbalanced: the callee popped " +
                            std::to_string(static_cast<int32_t>(esp - (c.esp + 4))) +
                            " bytes of arguments, stdcall wants " + std::to_string(c.argBytes));
            for (int r = 0; r < kSavedRegisterCount; ++r) {
                uint32_t v = 0;
                uc_reg_read(uc(), kSavedRegisters[r].id, &v);
                if (v != c.saved[r])
                    throw Fault(c.name + ": " + kSavedRegisters[r].name + " not preserved");
            }
            return;
        }
        CrossCall c;
        c.name = describeCall(image, address, c.argBytes);
        c.esp = esp;
        c.returnAddress = readU32(esp);
        for (int r = 0; r < kSavedRegisterCount; ++r)
            uc_reg_read(uc(), kSavedRegisters[r].id, &c.saved[r]);
        if (EndsWith(c.name, "!_Attach@16"))
            servicesTable_ = arg(2);
        for (const HandedRecord &h : kHandedRecords)
            if (EndsWith(c.name, std::string("!") + sim::HookName(h.hook))) {
                try {
                    requireInCallerFrames(arg(0), h.bytes, c.argBytes);
                } catch (const Fault &f) {
                    throw Fault(c.name + ": " + f.what());
                }
            }
        crossings_.push_back(c);
        if (from == 0)
            ++last_.hookCalls;  // a call out of the module, into a real sibling
    } catch (const std::exception &e) {
        fail(std::string("between images: ") + e.what());
    }
}

} // namespace emu
