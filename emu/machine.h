// An x86 machine that runs zerval.sys: the image mapped and relocated, its
// imports bound to a simulated kernel and simulated sibling drivers, and the
// module's exports callable by name with stdcall.
#ifndef ZERVAL_EMU_MACHINE_H
#define ZERVAL_EMU_MACHINE_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "adapter.h"
#include "call_log.h"
#include "linker.h"
#include "pe_image.h"
#include "pool_ledger.h"

struct uc_struct;

namespace emu {

// A call into the image that broke the rules: a fault, an unbalanced stack,
// a clobbered register.  The message names the entry.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CallStats {
    uint64_t instructions = 0;  // executed inside the image
    uint32_t stackBytes = 0;    // deepest stack, from the entry's return address down
    uint32_t hookCalls = 0;     // calls out of the image (kernel, siblings, hooks)
};

class Machine {
public:
    static constexpr uint32_t kLoadBase = 0x00800000;  // away from the preferred base
    static constexpr uint32_t kPoolBase = 0x20000000;  // the special pool grows up from here

    // Refuses (BadImage) an image that is not a PE32 i386 native driver or that
    // imports anything the simulation does not provide.
    Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool);
    // The same, with real images next to the module: its imports from a
    // neighbour's module name bind to that image's exports instead of the
    // simulated sibling drivers, and a neighbour's imports bind to the other
    // images (the module as "zerval.sys") or to the simulated kernel.  Each
    // neighbour lies at its own base, kNeighbourBase apart.
    Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool,
            std::vector<Neighbour> neighbours);
    static constexpr uint32_t kNeighbourBase = 0x01000000;
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // Calls an exported function, or the entry point by the name "DriverEntry",
    // stdcall; returns EAX.  Throws Fault.
    uint32_t call(const std::string &exportName, const std::vector<uint32_t> &args);
    // The same for an export (or "DriverEntry") of a loaded image by module name.
    uint32_t call(const std::string &module, const std::string &exportName, const std::vector<uint32_t> &args);
    const CallStats &lastCall() const { return last_; }
    // Back to the state just after loading, without loading again: the
    // writable sections as the loader left them, the pool empty (every block
    // unmapped), the stack and the caller's page zero.  The adapter, log and
    // ledger belong to the caller, who resets them.
    void reset();

    uint32_t exportAddress(const std::string &name) const;
    void read(uint32_t address, void *out, uint32_t size) const;
    void write(uint32_t address, const void *in, uint32_t size);
    uint32_t readU32(uint32_t address) const;

    // A page of guest memory that belongs to the caller (the display driver).
    static constexpr uint32_t kCallerData = 0x00600000;
    static constexpr uint32_t kCallerDataSize = 0x10000;

    // The emulated kernel's special pool, as the image reaches it through
    // ExAllocatePoolWithTag and ExFreePool: every block ends against an
    // unmapped page, the rest of its first page keeps a fill pattern that is
    // checked when the block is freed, and a freed block is unmapped.
    uint32_t allocate(uint32_t poolType, uint32_t size, uint32_t tag);
    void freePool(uint32_t address);

    // Where the services driver's hook functions live in the guest.
    uint32_t hookAddress(sim::Hook hook, sim::Entry entry = sim::Entry::Original) const;

    // Internal: dispatch from the emulator's hooks.
    void onStub(uint32_t address);
    void onImageInstruction(uint32_t address, uint32_t size);
    void onNeighbourInstruction(uint32_t address, uint32_t size);
    bool onBadAccess(int type, uint64_t address, int size);

private:
    struct Stub {
        std::string name;   // import or hook name
        uint32_t argBytes;  // what the callee pops
        sim::Entry via;     // for hooks: the original function or the replacement
    };
    uint32_t addStub(const std::string &name, uint32_t argBytes, sim::Entry via = sim::Entry::Original);
    uint32_t arg(int index) const;
    void dispatch(const Stub &stub);
    void fail(const std::string &what);
    void requireInCallerFrames(uint32_t address, uint32_t size, uint32_t argBytes) const;

    class GuestTable;

    // Loading and binding the neighbours (machine_neighbours.cpp).
    void loadNeighbours();
    uint32_t bindImport(const std::string &importer, const pe::Import &import) const;
    // Calls the code at target, stdcall, as the entry named exportName.
    uint32_t run(uint32_t target, const std::string &exportName, const std::vector<uint32_t> &args);
    // A call or a return between two loaded images, seen at the first
    // instruction executed in `image`.
    void crossing(size_t image, uint32_t address);
    // One call between images, open until it returns.
    struct CrossCall {
        std::string name;        // "kelv.sys!_Attach@16", "kelv.sys!pfnQueryMode"
        uint32_t esp = 0;        // at the callee's first instruction
        uint32_t returnAddress = 0;
        uint32_t argBytes = 0;
        uint32_t saved[4] = {};  // EBX, ESI, EDI, EBP at the call
    };
    std::string describeCall(size_t image, uint32_t address, uint32_t &argBytes) const;

    const pe::Image image_;
    sim::Adapter &adapter_;
    sim::CallLog &log_;
    sim::PoolLedger &pool_;
    uc_struct *uc_ = nullptr;
    std::map<uint32_t, Stub> stubs_;  // by stub address
    std::map<std::string, uint32_t> stubByName_;      // originals
    std::map<std::string, uint32_t> replacementByName_;
    struct PoolBlock {
        uint32_t base;   // first mapped page
        uint32_t bytes;  // mapped bytes
    };
    std::map<uint32_t, PoolBlock> poolBlocks_;  // by the address handed out
    uint32_t nextPool_ = kPoolBase;
    struct Snapshot {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    std::vector<Snapshot> writable_;  // the writable sections as loaded
    uint32_t entryEsp_ = 0;
    uint32_t minEsp_ = 0;
    CallStats last_;
    std::string error_;
    std::string entry_;
    GuestTable *table_ = nullptr;
    std::vector<bool> checked_;  // image offsets whose instruction passed the FPU/SIMD check

    std::vector<Neighbour> neighbours_;
    std::vector<LoadedImage> loaded_;  // the module first, then the neighbours, when there are any
    std::vector<std::vector<bool>> neighbourChecked_;  // FPU/SIMD check, per neighbour
    std::vector<CrossCall> crossings_;
    size_t current_ = SIZE_MAX;      // the loaded image last executing; SIZE_MAX: none yet
    uint32_t servicesTable_ = 0;     // the hook table a real services driver was handed
};

} // namespace emu

#endif
