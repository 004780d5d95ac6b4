// The machine as a debugger sees it: every instruction the engine runs is
// offered to the debugger's stub (a breakpoint there, a single step, an
// interrupt), which serves gdb until it resumes; registers and memory are
// the engine's.  Breakpoints live here, not in guest memory, so the images'
// code is never written.
#include "machine.h"

#include <unicorn/unicorn.h>

#include <optional>
#include <set>

#include "gdb_remote.h"

namespace emu {

namespace {

// gdb's i386 register numbers, 0 to 15, as the engine names them.
constexpr int kEngineRegisters[gdb::kRegisterCount] = {
    UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX, UC_X86_REG_ESP,    UC_X86_REG_EBP,
    UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EIP, UC_X86_REG_EFLAGS, UC_X86_REG_CS, UC_X86_REG_SS,
    UC_X86_REG_DS,  UC_X86_REG_ES,  UC_X86_REG_FS,  UC_X86_REG_GS};

// How often, in instructions run without a stop, the stub looks for gdb's
// interrupt (Ctrl-C).
constexpr uint32_t kInterruptPoll = 4096;

} // namespace

class Machine::Debugging : public gdb::Target {
public:
    Debugging(Machine &m, gdb::Stub &stub) : m_(m), stub_(stub) {}

    static void Instruction(uc_engine *, uint64_t address, uint32_t, void *user)
    {
        static_cast<Debugging *>(user)->instruction(static_cast<uint32_t>(address));
    }

    void instruction(uint32_t address)
    {
        if (!stub_.connected())
            return;
        // The instruction the target was resumed at runs first.
        const bool resumedHere = skip_ && *skip_ == address;
        skip_.reset();
        if (resumedHere)
            return;
        if (step_) {
            stop(gdb::Stop{});
        } else if (breakpoints_.count(address) != 0) {
            stop(gdb::Stop{gdb::kSigTrap, true, {}});
        } else if (++sincePoll_ == kInterruptPoll) {
            sincePoll_ = 0;
            if (stub_.interruptRequested())
                stop(gdb::Stop{gdb::kSigInt, false, {}});
        }
    }

    void stop(const gdb::Stop &stop)
    {
        switch (stub_.stopped(*this, stop)) {
        case gdb::Resume::Continue: step_ = false; break;
        case gdb::Resume::Step: step_ = true; break;
        case gdb::Resume::Detach: step_ = false; breakpoints_.clear(); return;
        }
        skip_ = reg(gdb::kEip);
        sincePoll_ = 0;
    }

    uint32_t reg(int number) override
    {
        uint32_t v = 0;
        uc_reg_read(m_.uc(), kEngineRegisters[number], &v);
        return v;
    }
    void setReg(int number, uint32_t value) override { uc_reg_write(m_.uc(), kEngineRegisters[number], &value); }
    std::string readMemory(uint32_t address, uint32_t length) override
    {
        std::string bytes(length, '\0');
        if (uc_mem_read(m_.uc(), address, bytes.data(), length) == UC_ERR_OK)
            return bytes;
        // Up to the first byte that is not mapped.
        uint32_t readable = 0;
        while (readable < length && uc_mem_read(m_.uc(), address + readable, &bytes[readable], 1) == UC_ERR_OK)
            ++readable;
        bytes.resize(readable);
        return bytes;
    }
    bool writeMemory(uint32_t address, const std::string &bytes) override
    {
        try {
            m_.write(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
            return true;
        } catch (const Fault &) {
            return false;
        }
    }
    void setBreakpoint(uint32_t address, bool set) override
    {
        if (set)
            breakpoints_.insert(address);
        else
            breakpoints_.erase(address);
    }

private:
    Machine &m_;
    gdb::Stub &stub_;
    std::set<uint32_t> breakpoints_;
    bool step_ = true;  // stops before the first instruction
    std::optional<uint32_t> skip_;
    uint32_t sincePoll_ = 0;
};

void Machine::attachDebugger(gdb::Stub &stub)
{
    debugging_ = std::make_shared<Debugging>(*this, stub);
    uc_hook h;
    CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_CODE, reinterpret_cast<void *>(Debugging::Instruction),
                            debugging_.get(), 1, 0),
                "hook the debugger");
}

void Machine::stopAtFault(const std::string &what, FaultKind kind)
{
    if (!debugging_)
        return;
    const int signal = kind == FaultKind::Access ? gdb::kSigSegv : kind == FaultKind::Instruction ? gdb::kSigIll
                                                                                                   : gdb::kSigAbrt;
    debugging_->stop(gdb::Stop{signal, false, what});
}

Fault Machine::stoppedAt(Fault fault, FaultKind kind)
{
    stopAtFault(fault.what(), kind);
    return fault;
}

std::vector<Machine::ImagePlace> Machine::imagePlaces() const
{
    if (loaded_.empty())
        return {ImagePlace{"zerval.sys", kLoadBase, image_.imageBase}};
    std::vector<ImagePlace> places;
    for (const LoadedImage &l : loaded_)
        places.push_back(ImagePlace{l.module, l.base, l.image->imageBase});
    return places;
}

} // namespace emu
