// An x86 machine that runs zerval.sys: the image mapped and relocated, its
// imports bound to a simulated kernel and simulated sibling drivers, and the
// module's exports callable by name with stdcall.
#ifndef ZERVAL_EMU_MACHINE_H
#define ZERVAL_EMU_MACHINE_H

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter.h"
#include "call_log.h"
#include "call_rules.h"
#include "code_checks.h"
#include "crossing.h"
#include "decorated_names.h"
#include "error.h"
#include "irql.h"
#include "kernel_files.h"
#include "linker.h"
#include "pe_image.h"
#include "pool_ledger.h"
#include "source_lines.h"
#include "verifier_pool.h"
#include "video_port.h"
#include "x86_decoder.h"

struct uc_struct;

namespace emu {

namespace gdb {
class Stub;
}

// A routine the simulation serves an image, as an import binds to it.
struct ServedRoutine {
    std::string module;  // "ntoskrnl.exe"
    std::string name;    // "ExAllocatePoolWithTag"
    uint32_t argBytes;   // what it pops (stdcall)
    bool cdecl;          // the caller pops (memcpy, DbgPrint)
};

struct CallStats {
    uint64_t instructions = 0;  // executed inside the image
    uint32_t stackBytes = 0;    // deepest stack, from the entry's return address down
    uint32_t hookCalls = 0;     // calls out of the image (kernel, siblings, hooks)
};

class Machine {
public:
    // The guest's address space.
    static constexpr uint32_t kLoadBase = 0x00800000;  // the module, away from its preferred base
    static constexpr uint32_t kNeighbourBase = 0x01000000;  // the first neighbour image (see below)
    static constexpr uint32_t kPoolBase = SpecialPool::kBase;  // the special pool grows up from here
    // A page of guest memory that belongs to the caller (the display driver).
    static constexpr uint32_t kCallerData = 0x00600000;
    static constexpr uint32_t kCallerDataSize = 0x10000;

    // Refuses (Error) an image that is not a PE32 i386 native driver or that
    // imports anything the simulation does not provide.
    Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool);
    // The same, with real images next to the module: its imports from a
    // neighbour's module name bind to that image's exports instead of the
    // simulated sibling drivers, and a neighbour's imports bind to the other
    // images (the module as "zerval.sys") or to the simulated kernel.  Each
    // neighbour lies at its own base, from kNeighbourBase on.
    Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool,
            std::vector<Neighbour> neighbours);
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // Calls an exported function, or the entry point by the name "DriverEntry",
    // stdcall; returns EAX.  Throws Fault when the image breaks a rule, Error
    // when it calls a stub address nothing is bound to.
    uint32_t call(const std::string &exportName, const std::vector<uint32_t> &args);
    // The same for an export (or "DriverEntry") of a loaded image by module name.
    uint32_t call(const std::string &module, const std::string &exportName, const std::vector<uint32_t> &args);
    const CallStats &lastCall() const { return last_; }
    // The IRQL every following call into an image runs at (PASSIVE_LEVEL
    // until set), and the simulated kernel and hooks with it.
    void setIrql(Irql irql) { irql_ = irql; }
    Irql irql() const { return irql_; }
    // Back to the state just after loading, without loading again: the
    // writable sections as the loader left them, the pool empty (every block
    // unmapped), the stack and the caller's page zero.  The adapter, log and
    // ledger belong to the caller, who resets them.
    void reset();

    uint32_t exportAddress(const std::string &name) const;
    // Guest memory; an address outside it throws Fault.
    void read(uint32_t address, void *out, uint32_t size) const;
    void write(uint32_t address, const void *in, uint32_t size);
    uint32_t readU32(uint32_t address) const;

    // The emulated kernel's special pool, as the image reaches it through
    // ExAllocatePoolWithTag and ExFreePool: every block ends against an
    // unmapped page, the rest of its first page keeps a fill pattern that is
    // checked when the block is freed, and a freed block is unmapped.
    uint32_t allocate(uint32_t poolType, uint32_t size, uint32_t tag);
    void freePool(uint32_t address);

    // Where the services driver's hook functions live in the guest.
    uint32_t hookAddress(sim::Hook hook, sim::Entry entry = sim::Entry::Original) const;

    // With real images loaded: every call between two of them, and every
    // call one of them made to a simulated routine, in order, since the
    // machine was made or reset.
    const std::vector<Crossing> &crossings() const { return crossingLog_; }

    // Every routine an image may import from the simulation, by module in
    // the tables' order.
    static std::vector<ServedRoutine> ServedRoutines();

    // The services driver's entry, as the module imports it from kelv.sys.
    static constexpr const char *kServicesAttach = decorated::Attach;
    // The TV driver's function, which the module puts in pfnTvControl.
    static constexpr const char *kTvControl = decorated::S_RMX_Control;

    // What the images wrote through the simulated kernel's file routines
    // (machine_files.cpp); kept across reset().
    const KernelFiles &files() const { return files_; }

    // Where what an image prints with DbgPrint or VideoPortDebugPrint goes, a
    // line at a time as "image: text", while it runs; nowhere by default (the
    // trace shows it too).
    void setDebugSink(std::function<void(const std::string &)> sink) { debugSink_ = std::move(sink); }

    // The simulated video port: what a miniport registered through
    // VideoPortInitialize, the adapter it is handed, and what it mapped.
    VideoPort &videoPort() { return videoPort_; }
    const VideoPort &videoPort() const { return videoPort_; }
    // The adapter the simulation presents: its profile.
    const sim::Profile &adapterProfile() const { return adapter_.profile; }
    // Calls code of a loaded image at `target`, stdcall, as the entry named
    // `name` (a function a miniport registered: HwVidFindAdapter).
    uint32_t callAt(uint32_t target, const std::string &name, const std::vector<uint32_t> &args);
    // A block of non-paged special pool for a record the host hands an image
    // (a device extension, a request packet, its buffers): it ends against an
    // unmapped page, to the byte when `exactEnd`.  Filled with `fill`.
    uint32_t allocateForImage(uint32_t size, bool exactEnd, uint8_t fill = 0);
    void freeForImage(uint32_t address);
    // The module name of the loaded image an address lies in; empty for none.
    std::string imageNameAt(uint32_t address) const;
    // "kelv.sys .text+0x62 (RVA 0x1062)", or the bare address outside every
    // image; for an image read from a file with debug information, with the
    // function and source line: "kelv.sys .text+0x62 (RVA 0x1062,
    // KelvQueryMode at services_driver.c:76)".
    std::string locate(uint32_t address) const;
    // "KelvQueryMode at services_driver.c:76" for code of a loaded image read
    // from a file with debug information (Neighbour::path); empty for any
    // other address.
    std::string sourceLineAt(uint32_t address) const;
    // With real images loaded: each of them (the module first), where it lies.
    const std::vector<LoadedImage> &loadedImages() const { return loaded_; }
    // Where every instruction a neighbour image runs goes, by address, as it
    // is about to run (every one of theirs is watched); nowhere by default.
    void setInstructionSink(std::function<void(uint32_t)> sink) { instructionSink_ = std::move(sink); }
    // ": " and the instruction at `address` in Intel syntax (": mov dword ptr
    // [eax+0x10], 0xdeadbeef"), to follow where a message places it; nothing
    // where no byte can be read there, or where the machine does not watch
    // each instruction as it runs (the module's code it reads ahead by
    // blocks, where a fault's EIP may be its block's start).
    std::string instructionText(uint32_t address) const;
    // The bytes of the instruction at `address`: as many as the longest one
    // may have, or as are mapped there; how many (0: none).
    uint32_t instructionBytes(uint32_t address, uint8_t (&bytes)[kLongestInstruction]) const;

    // A debugger (machine_debugger.cpp), attached before the first call
    // (code the engine translated earlier would run past it): the images
    // stop for it before their first instruction, at its breakpoints, after
    // each single step, and at a fault before the call ends with it.
    void attachDebugger(gdb::Stub &stub);
    // Where each loaded image lies, the module first, for a debugger to place
    // their symbols.
    struct ImagePlace {
        std::string module;
        uint32_t base;
        uint32_t preferredBase;  // the image's own ImageBase
    };
    std::vector<ImagePlace> imagePlaces() const;

private:
    // What a fault stops a debugger with: a rule broken, a memory access, an
    // instruction the machine does not run.
    enum class FaultKind { Rule, Access, Instruction };
    class Debugging;
    std::shared_ptr<Debugging> debugging_;  // none until a debugger attaches
    // A fault, shown to the debugger (if any) as it stops there.
    void stopAtFault(const std::string &what, FaultKind kind);
    Fault stoppedAt(Fault fault, FaultKind kind);

    // The routines the simulated kernel and sibling drivers serve, and the
    // hooks the simulated services driver installs: one table (served.cpp),
    // each entry beside its handler.  A served call reads its arguments once.
    struct Served;
    struct ServedCall {
        uint32_t esp;      // at the return address
        uint32_t args[11]; // as many as the routine pops (ZwCreateFile: 11)
        sim::Entry via;    // for a hook: the original function or the replacement
        uint32_t argBytes;
        size_t caller;     // the calling image, as an index of loaded_ (0: the module); SIZE_MAX: none
        const Served *served;  // the routine called
        // Called by one of the neighbour images, whose pool is on their own
        // books and whose calls stay out of the module's call log.
        bool fromNeighbour() const { return caller != 0 && caller != SIZE_MAX; }
    };
    using Serve = uint32_t (*)(Machine &, const ServedCall &);
    struct Served {
        const char *module;  // importable by module and name; null for a hook
        const char *name;    // the export, or the hook's name
        uint32_t argBytes;   // what the callee pops
        Serve serve;
        int hook = -1;       // a sim::Hook, for a hook
        bool cdecl = false;  // the caller pops the arguments (argBytes 0), however many it passed
    };
    // The tables, one per part of the simulation, each routine beside its
    // handler: the kernel's pool and files, the sibling drivers' entries and
    // the services driver's hooks (served.cpp); the kernel's run-time
    // routines, memory and debug prints (served_runtime.cpp); the video port
    // (served_video_port.cpp).
    static const Served kServed[];
    static const size_t kServedCount;
    static const Served kRuntimeServed[];
    static const size_t kRuntimeServedCount;
    static const Served kVideoPortServed[];
    static const size_t kVideoPortServedCount;
    // Every entry of every table.
    static const std::vector<const Served *> &AllServed();
    static constexpr Served Hooked(sim::Hook hook, uint32_t argBytes, Serve serve)
    {
        return Served{nullptr, sim::HookName(hook), argBytes, serve, static_cast<int>(hook)};
    }
    // A cdecl routine (memcpy, DbgPrint): its handler reads its arguments
    // from the stack (argAt).
    static constexpr Served Cdecl(const char *module, const char *name, Serve serve)
    {
        return Served{module, name, 0, serve, -1, true};
    }
    static const Served *provided(const std::string &module, const std::string &name);
    static const Served &servedHook(sim::Hook hook);
    // The stub page: stub n is a `ret N` at slot n, bound once, at load, to
    // what serves it; a call lands there and is dispatched by slot.
    struct Stub {
        const Served *served;
        sim::Entry via;
    };
    uint32_t addStub(const Served &served, sim::Entry via);
    void writeStubPage();
    // The stub addStub gave a kServed entry (its Original).
    uint32_t providedStub(const Served &p) const;
    // The kernel's file routines (machine_files.cpp), entries of kServed.
    uint32_t createFile(const ServedCall &c);
    uint32_t writeFile(const ServedCall &c);
    // The pool as the neighbour images reach it (machine_pool.cpp): special
    // pool on their own books, not the module's ledger; freeing checks the
    // block, and with a tag, the tag.
    uint32_t allocateFor(const ServedCall &c, uint32_t poolType, uint32_t size, uint32_t tag);
    void freeFor(uint32_t address, std::optional<uint32_t> tag);
    // ExFreePool and ExFreePoolWithTag: a neighbour's block, or anything a
    // neighbour frees but the module's live blocks (a published array, which
    // a display driver may free), on the neighbours' books; the rest on the
    // module's ledger.
    void freeAny(const ServedCall &c, uint32_t address, std::optional<uint32_t> tag);
    static constexpr uint32_t kLargestImageBlock = 256u << 20;  // a neighbour's largest pool request
    // The run-time routines' guest memory (served_runtime.cpp): the range
    // must be mapped with that access, as the CPU would require.
    void requireAccess(uint32_t address, uint32_t size, bool write) const;
    void copyMemory(uint32_t to, uint32_t from, uint32_t bytes);
    void fillMemory(uint32_t to, uint32_t bytes, uint8_t value);
    // A line an image printed; the trace shows it with the call.
    void debugPrint(const ServedCall &c, const std::string &text);
    // The served call's line in the trace, when it adds nothing to the call
    // log: its name and arguments as the handler puts them.
    void describeServed(const std::string &text);
    // The video port's routines (served_video_port.cpp) that need more than
    // one line.
    uint32_t videoPortInitialize(const ServedCall &c);
    uint32_t deviceBase(uint64_t physical, uint32_t bytes, bool ioSpace);
    uint32_t readDevice(uint32_t address, uint32_t bytes);
    uint32_t writeDevice(uint32_t address, uint32_t bytes, uint32_t value);
    uint32_t portBuffer(const ServedCall &c, uint32_t unit, bool out);
    // A served routine that calls back into the image (a miniport's
    // callback): the call goes on in the guest at `target` with `args`,
    // stdcall, and returns to the stub of the table entry named after the
    // routine with ", after the callback", whose handler ends the image's
    // call with returnFromGuest: the callback's answer, once it was held to
    // stdcall.  `buffer`, a block handed to the callback, is freed then.
    void callGuestThen(const ServedCall &c, uint32_t target, const std::vector<uint32_t> &args, uint32_t buffer);
    uint32_t returnFromGuest();
    struct PendingCall {
        CallFrame frame;
        uint32_t buffer;
        std::string target;
    };
    std::vector<PendingCall> pendingCalls_;

    // The engine's callbacks (machine.cpp) and what they call.
    struct Callbacks;
    void onStub(uint32_t address);
    void onBlock(uint32_t address, uint32_t size);
    void onWatchedInstruction(uint32_t address, uint32_t size);
    void refuse(uint32_t address);
    bool onBadAccess(int type, uint64_t address, int size);
    void onStackWrite(uint32_t address, uint32_t size, uint64_t value);
    void onCodeWrite(uint32_t address, uint32_t size);
    void hookImage(uint32_t base, uint32_t size);
    // Maps an image with each page's final protection, relocated, imports
    // not yet bound.
    uint32_t load(const pe::Image &image, uint32_t base);

    // The argument `index` of the call just entered, ESP at its return address.
    uint32_t argAt(uint32_t esp, int index) const { return readU32(esp + 4 + 4 * static_cast<uint32_t>(index)); }
    // Stops the image: what it did broke a rule (a Fault; culprit: the
    // neighbour whose code did it, empty for the module), or the machine
    // cannot go on (an Error).
    void fail(const std::string &what, const std::string &culprit = {}, FaultKind kind = FaultKind::Rule);
    void failMachine(const std::string &what);
    // The loaded image an address lies in, as an index of loaded_ (0: the
    // module, also when no neighbour is loaded); SIZE_MAX for none.
    size_t imageAt(uint32_t address) const;
    const std::string &moduleName(size_t image) const;
    // The culprit a Fault names for code of an image: empty for the module.
    std::string culpritOf(size_t image) const;
    // The same as locate, and the export or hook it was running in: the innermost open
    // call into that image, or the host's entry.
    std::string where(uint32_t address) const;
    void requireInCallerFrames(uint32_t address, uint32_t size, uint32_t hookEsp, uint32_t argBytes) const;
    // The record a hook was handed in its first argument, once it is found
    // in the caller's frames.
    template <size_t N>
    void readHanded(const ServedCall &c, std::array<uint8_t, N> &record) const
    {
        requireInCallerFrames(c.args[0], static_cast<uint32_t>(N), c.esp, c.argBytes);
        read(c.args[0], record.data(), static_cast<uint32_t>(N));
    }
    // The IRQL rules of the pool: a paged request or free above APC_LEVEL.
    void requirePagedPoolAllowed(const std::string &what) const;

    class GuestTable;
    // The module's table at a guest address, as the simulated services
    // driver holds it from its Attach on.
    sim::HookTable &handTable(uint32_t address);
    // The hook table at a guest address as a services driver sees it.
    sim::TableView tableAt(uint32_t address);

    // Loading and binding the neighbours (machine_neighbours.cpp).
    void loadNeighbours();
    uint32_t bindImport(const std::string &importer, const pe::Import &import) const;
    // Calls the code at target, stdcall, as the entry named exportName.
    uint32_t run(uint32_t target, const std::string &exportName, const std::vector<uint32_t> &args);
    // The engine from `target` to the sentinel, again from where a watch was
    // added.
    int runEngine(uint32_t target);
    // A call or a return between two loaded images, seen at the first
    // instruction executed in `image`.  Whether control came by call or by
    // jump makes no difference: control that arrives with the stack pointer
    // above an open call's return address has returned from that call.
    void crossing(size_t image, uint32_t address);
    // Ends every open call whose return address lies below `esp`: control
    // left those callees (into an image, a served routine or the host).
    void returnedTo(uint32_t esp);
    void crossingReturn(uint32_t esp);
    void crossingCall(size_t from, size_t image, uint32_t address, uint32_t esp);
    // What a call between images entered.
    struct Entered {
        std::string entry;   // "_Attach@16", "pfnQueryMode", "DriverEntry"
        uint32_t argBytes = 0;
        std::optional<sim::Hook> hook;  // a hook of the module's table
        uint8_t resultBytes = 4;  // of EAX, by its result type (Crossing::resultBytes)
    };
    Entered describeCall(size_t image, uint32_t address) const;
    // One call between images, open until it returns.
    struct CrossCall {
        std::string name;        // "kelv.sys!_Attach@16", "kelv.sys!pfnQueryMode"
        Entered callee;
        size_t from = 0;         // the calling image and the called one, loaded_ indices
        size_t to = 0;
        CallFrame frame;         // at the callee's first instruction
        uint32_t returnAddress = 0;
        uint32_t record = 0;     // a record handed to a hook and its documented size
        uint32_t recordBytes = 0;
        size_t logged = 0;       // its entry in crossingLog_
    };
    // A record or buffer the module handed to a hook whose call has returned:
    // it was the hook's only for the call.  A neighbour that writes there
    // later kept the pointer.
    struct EarlierRecord {
        uint32_t bytes = 0;
        const char *kind = "";  // "ModeQuery", "buffer"
        std::string handedTo;  // "kelv.sys!pfnQueryMode({640x480x8 @60 ...}, 0x0)"
        std::string during;    // the host's entry that call came in: "_lDllAttach@20"
    };
    std::map<uint32_t, EarlierRecord> earlierRecords_;  // by address, the latest call's
    // The earlier record the instruction at `eip` writes [at, end) through,
    // when the pointer it writes through lies in one, and not in the record
    // `call` (the open call from the module, if any) was handed: in stack
    // nobody owns (`freeStack`), one the write also lands in; in the
    // module's frames, one the pointer is the very start of.
    const std::pair<const uint32_t, EarlierRecord> *keptRecord(uint32_t eip, uint64_t at, uint64_t end, bool freeStack,
                                                              const CrossCall *call) const;

    const pe::Image image_;
    sim::Adapter &adapter_;
    sim::CallLog &log_;
    sim::PoolLedger &pool_;
    struct CloseEngine {
        void operator()(uc_struct *engine) const;
    };
    static std::unique_ptr<uc_struct, CloseEngine> OpenEngine();
    std::unique_ptr<uc_struct, CloseEngine> engine_;
    uc_struct *uc() const { return engine_.get(); }
    std::vector<Stub> stubs_;  // by slot on the stub page
    std::map<const Served *, uint32_t> providedStubs_;  // the address of each entry's stub
    uint32_t hookStubs_[2][sim::kHookCount] = {};  // by sim::Entry, then sim::Hook
    SpecialPool specialPool_;
    CodeChecks code_;
    struct Snapshot {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    std::vector<Snapshot> writable_;  // the writable sections as loaded
    struct CodeRange {
        uint32_t begin, end;
    };
    std::vector<CodeRange> codeRanges_;  // the executable sections of every image
    uint32_t entryEsp_ = 0;
    uint32_t entryArgBytes_ = 0;  // the host's call's arguments, above entryEsp_'s return address
    CallStats last_;
    Irql irql_ = Irql::Passive;
    std::string fault_;         // why the running call was stopped: the image's doing
    std::string faultCulprit_;  // (and which neighbour's, when not the module's)
    std::optional<uint32_t> faultAddress_;  // (and, for a bad access, the address it touched)
    std::string machineError_;  // or the machine's
    std::string runEntry_;      // the entry the host called
    uint32_t restartAt_ = 0;    // where the engine runs again after a watch was added; 0: it does not
    bool limitReached_ = false;
    std::unique_ptr<GuestTable> table_;  // the table the services driver was handed, once Attach ran

    std::vector<Neighbour> neighbours_;
    std::vector<LoadedImage> loaded_;  // the module first, then the neighbours, when there are any
    std::vector<CrossCall> crossings_;
    std::vector<Crossing> crossingLog_;
    size_t current_ = SIZE_MAX;      // the loaded image last executing; SIZE_MAX: none yet
    uint32_t servicesTable_ = 0;     // the hook table a real services driver was handed
    KernelFiles files_;
    // The neighbours' pool blocks, by address.
    struct ImageBlock {
        size_t image;
        uint32_t poolType, size, tag;
    };
    std::map<uint32_t, ImageBlock> imageBlocks_;
    std::function<void(const std::string &)> debugSink_;
    size_t servedCrossing_ = SIZE_MAX;  // the running served call's crossingLog_ entry, if traced
    VideoPort videoPort_;
    SourceLines sourceLines_;
    std::function<void(uint32_t)> instructionSink_;
};

} // namespace emu

#endif
