#include "machine.h"

#include "disassembly.h"
#include "x86_decoder.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>

namespace emu {

namespace {

constexpr uint32_t kStubPage = 0x00700000;
constexpr uint32_t kStubSize = 16;  // bytes of the stub page per stub
constexpr uint32_t kSentinel = kStubPage + kPage - kStubSize;
constexpr uint32_t kStackBase = 0x00100000;
constexpr uint32_t kStackSize = 0x10000;
constexpr uint32_t kStackTop = kStackBase + kStackSize - 0x100;
// The image (at most kLargestImage) lies between the stub page and the pool.
static_assert(Machine::kLoadBase + kLargestImage <= Machine::kPoolBase, "the image ends below the pool");

// Values the image's callee-saved registers must still hold on return.
constexpr uint32_t kSavedValues[kSavedRegisterCount] = {0xB0B0B0B0u, 0x51515151u, 0xD1D1D1D1u, 0xBBBB0000u};

// The bytes of EAX an export's result type gives back: zerval.sys's BOOLEAN
// entries AL, vValidateMode nothing (VOID); every other export, and a
// neighbour's, 4.
uint8_t ExportResultBytes(const std::string &name)
{
    if (name == decorated::vValidateMode)
        return 0;
    for (const char *boolean : {decorated::lDllAttach, decorated::Orvalen_Function, decorated::MeltoBiosDll})
        if (name == boolean)
            return 1;
    return 4;
}

// Where a hook's slot lies in a guest DllExt: the guest's pointers are 4 bytes.
uint32_t SlotAddress(uint32_t table, sim::Hook hook) { return table + 4 * static_cast<uint32_t>(sim::DllExtSlot(hook)); }

} // namespace

// The engine calls plain functions; these hand each call to its machine.
struct Machine::Callbacks {
    static void stub(uc_engine *, uint64_t address, uint32_t, void *user)
    {
        static_cast<Machine *>(user)->onStub(static_cast<uint32_t>(address));
    }
    static void block(uc_engine *, uint64_t address, uint32_t size, void *user)
    {
        static_cast<Machine *>(user)->onBlock(static_cast<uint32_t>(address), size);
    }
    static void watched(uc_engine *, uint64_t address, uint32_t size, void *user)
    {
        static_cast<Machine *>(user)->onWatchedInstruction(static_cast<uint32_t>(address), size);
    }
    static void codeWrite(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *user)
    {
        static_cast<Machine *>(user)->onCodeWrite(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
    }
    static bool badAccess(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *user)
    {
        return static_cast<Machine *>(user)->onBadAccess(static_cast<int>(type), address, size);
    }
    static void stackWrite(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t value, void *user)
    {
        static_cast<Machine *>(user)->onStackWrite(static_cast<uint32_t>(address), static_cast<uint32_t>(size),
                                                   static_cast<uint64_t>(value));
    }
};

// The module's hook table as the services driver holds it: an address in the
// guest.
class Machine::GuestTable : public sim::HookTable {
public:
    GuestTable(Machine &m, uint32_t address) : m_(m), address_(address) {}

    sim::TableView view() const override
    {
        uint32_t slots[1 + sim::kHookCount];  // Size, then the hooks
        m_.read(address_, slots, sizeof slots);
        sim::TableView v;
        v.size = slots[0];
        for (int h = 0; h < sim::kHookCount; ++h)
            if (slots[sim::DllExtSlot(static_cast<sim::Hook>(h))] != 0)
                v.filled |= static_cast<uint8_t>(1u << h);
        v.tvControlIsRmx = slots[sim::DllExtSlot(sim::Hook::TvControl)] == m_.hookAddress(sim::Hook::TvControl);
        return v;
    }
    void fill(sim::Hook hook, sim::Entry entry) override
    {
        put(hook, m_.hookAddress(hook, entry));
        m_.log_.slotChanged(hook, true, entry);
    }
    void clear(sim::Hook hook) override
    {
        put(hook, 0);
        m_.log_.slotChanged(hook, false);
    }

private:
    void put(sim::Hook hook, uint32_t value) { m_.write(SlotAddress(address_, hook), &value, 4); }

    Machine &m_;
    uint32_t address_;
};

sim::TableView Machine::tableAt(uint32_t address) { return GuestTable(*this, address).view(); }

sim::HookTable &Machine::handTable(uint32_t address)
{
    table_ = std::make_unique<GuestTable>(*this, address);
    return *table_;
}

std::unique_ptr<uc_struct, Machine::CloseEngine> Machine::OpenEngine()
{
    uc_struct *engine = nullptr;
    CheckEngine(uc_open(UC_ARCH_X86, UC_MODE_32, &engine), "open");
    return std::unique_ptr<uc_struct, CloseEngine>(engine);
}

Machine::Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool)
    : Machine(image, adapter, log, pool, {})
{
}

Machine::Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool,
                 std::vector<Neighbour> neighbours)
    : image_(image), adapter_(adapter), log_(log), pool_(pool), engine_(OpenEngine()), specialPool_(uc()),
      code_(uc(), &Callbacks::watched, this), neighbours_(std::move(neighbours))
{
    CheckLoadable(image);
    for (const pe::Import &i : image.imports) {
        const bool neighbour = std::any_of(neighbours_.begin(), neighbours_.end(),
                                           [&](const Neighbour &n) { return SameModule(n.module, i.module); });
        if (provided(i.module, i.name) == nullptr && !neighbour)
            throw Error("imports " + pe::Printable(i.module) + "!" + pe::Printable(i.name) +
                        ", which the simulation does not serve");
    }

    const uint32_t imageSize = load(image, kLoadBase);
    code_.countOnly(kLoadBase, kLoadBase + imageSize);  // CallStats: the module's instructions
    CheckEngine(uc_mem_map(uc(), kStubPage, kPage, UC_PROT_READ | UC_PROT_EXEC), "map stubs");
    CheckEngine(uc_mem_map(uc(), kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE), "map stack");
    CheckEngine(uc_mem_map(uc(), kCallerData, kCallerDataSize, UC_PROT_READ | UC_PROT_WRITE), "map caller data");

    // Imports and hooks: a `ret N` each on the stub page, bound to what
    // serves it.
    for (const Served *s : AllServed()) {
        if (s->hook < 0) {
            providedStubs_[s] = addStub(*s, sim::Entry::Original);
            continue;
        }
        for (const sim::Entry via : {sim::Entry::Original, sim::Entry::Replacement})
            hookStubs_[static_cast<int>(via)][s->hook] = addStub(*s, via);
    }
    // hookAddress(TvControl) is the simulated TV driver's S_RMX_Control, also
    // when a real rmx.sys is loaded (the module's import then binds to that
    // image's own).
    const uint32_t tvControl = providedStub(servedHook(sim::Hook::TvControl));
    for (const sim::Entry via : {sim::Entry::Original, sim::Entry::Replacement})
        hookStubs_[static_cast<int>(via)][static_cast<int>(sim::Hook::TvControl)] = tvControl;
    for (int h = 0; h < sim::kHookCount; ++h)
        if (hookStubs_[0][h] == 0)
            throw Error(std::string("emulator: nothing serves ") + sim::kHookNames[h]);
    writeStubPage();
    // Every call ends at the sentinel: set once, so that starting the engine
    // does not translate the code around it again.
    const uint64_t exit = kSentinel;
    CheckEngine(uc_ctl_exits_enable(uc()), "exits");
    CheckEngine(uc_ctl_set_exits(uc(), &exit, 1), "exits");
    loadNeighbours();
    for (const pe::Import &i : image.imports) {
        const uint32_t stub = bindImport("zerval.sys", i);
        write(kLoadBase + i.iatRva, &stub, 4);
    }
    for (const pe::Section &s : image.sections) {
        const uint32_t size = RoundUp(std::max(s.virtualSize, s.rawSize), kPage);
        if (size != 0 && (s.characteristics & pe::kScnWrite)) {
            Snapshot snap{kLoadBase + s.virtualAddress, std::vector<uint8_t>(size)};
            read(snap.address, snap.bytes.data(), size);
            writable_.push_back(std::move(snap));
        }
    }

    uc_hook h;
    CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_CODE, reinterpret_cast<void *>(Callbacks::stub), this, kStubPage,
                            kStubPage + kPage - 1),
                "hook stubs");
    hookImage(kLoadBase, imageSize);
    CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(Callbacks::badAccess), this,
                            1, 0),
                "hook faults");
    // With real images next to the module: writes into the stack, held to
    // what each call from the module handed over (onStackWrite).
    if (!loaded_.empty())
        CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(Callbacks::stackWrite), this,
                                kStackBase, kStackBase + kStackSize - 1),
                    "watch the stack");
}

// Runs of pages of one protection, each mapped once with it: the loader's
// own writes (sections, relocations, bound imports) go through the engine,
// which may write any mapped page.  Code that is writable too is watched for
// writes, after which its blocks are read again.
uint32_t Machine::load(const pe::Image &image, uint32_t base)
{
    CheckLoadable(image);
    const uint32_t size = MappedSize(image);
    const std::vector<uint32_t> perms = PageProtections(image);
    for (size_t first = 0; first < perms.size();) {
        size_t end = first + 1;
        while (end < perms.size() && perms[end] == perms[first])
            ++end;
        const uint32_t at = base + static_cast<uint32_t>(first) * kPage, bytes = static_cast<uint32_t>(end - first) * kPage;
        CheckEngine(uc_mem_map(uc(), at, bytes, perms[first]), "map image");
        if ((perms[first] & UC_PROT_EXEC) != 0) {
            codeRanges_.push_back(CodeRange{at, at + bytes});
            if ((perms[first] & UC_PROT_WRITE) != 0) {
                uc_hook h;
                CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(Callbacks::codeWrite), this,
                                        at, at + bytes - 1),
                            "watch writable code");
            }
        }
        first = end;
    }
    WriteImage(uc(), image, base);
    return size;
}

// Every block the engine runs in an image goes through onBlock.
void Machine::hookImage(uint32_t base, uint32_t size)
{
    uc_hook h;
    CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_BLOCK, reinterpret_cast<void *>(Callbacks::block), this, base,
                            base + size - 1),
                "hook image");
}

Machine::~Machine() = default;

void Machine::CloseEngine::operator()(uc_struct *engine) const { uc_close(engine); }

void Machine::reset()
{
    specialPool_.clear();
    for (const Snapshot &snap : writable_)
        write(snap.address, snap.bytes.data(), static_cast<uint32_t>(snap.bytes.size()));
    const std::vector<uint8_t> zeros(std::max(kStackSize, kCallerDataSize), 0);
    write(kStackBase, zeros.data(), kStackSize);
    write(kCallerData, zeros.data(), kCallerDataSize);
    last_ = CallStats{};
    fault_.clear();
    faultCulprit_.clear();
    faultAddress_.reset();
    machineError_.clear();
    crossingLog_.clear();
    earlierRecords_.clear();
    imageBlocks_.clear();
    pendingCalls_.clear();
    videoPort_.forgetMiniport();
}

uint32_t Machine::addStub(const Served &served, sim::Entry via)
{
    const uint32_t address = kStubPage + kStubSize * static_cast<uint32_t>(stubs_.size());
    if (address + kStubSize > kSentinel)
        throw Error(std::string("emulator: no room for the stub of ") + served.name);
    stubs_.push_back(Stub{&served, via});
    return address;
}

// Each stub a `ret N` (N the bytes of arguments its routine pops), the
// sentinel a `hlt`: composed here and written in one go.
void Machine::writeStubPage()
{
    std::vector<uint8_t> page(kPage, 0);
    for (size_t i = 0; i < stubs_.size(); ++i) {
        const uint32_t argBytes = stubs_[i].served->argBytes;
        uint8_t *code = &page[kStubSize * i];
        code[0] = static_cast<uint8_t>(argBytes ? 0xC2 : 0xC3);
        if (argBytes) {
            code[1] = static_cast<uint8_t>(argBytes);
            code[2] = static_cast<uint8_t>(argBytes >> 8);
        }
    }
    page[kSentinel - kStubPage] = 0xF4;
    write(kStubPage, page.data(), kPage);
}

uint32_t Machine::providedStub(const Served &p) const { return providedStubs_.at(&p); }

uint32_t Machine::hookAddress(sim::Hook hook, sim::Entry entry) const
{
    return hookStubs_[static_cast<int>(entry)][static_cast<int>(hook)];
}

uint32_t Machine::exportAddress(const std::string &name) const
{
    if (name == "DriverEntry")
        return kLoadBase + image_.entryRva;
    const pe::Export *e = image_.exported(name);
    if (e == nullptr)
        throw Fault("the image exports no " + name);
    return kLoadBase + e->rva;
}

void Machine::read(uint32_t address, void *out, uint32_t size) const
{
    if (uc_mem_read(uc(), address, out, size) != UC_ERR_OK)
        throw Fault("read of " + std::to_string(size) + " bytes at " + pe::Hex(address) + " outside guest memory");
}

void Machine::write(uint32_t address, const void *in, uint32_t size)
{
    if (uc_mem_write(uc(), address, in, size) != UC_ERR_OK)
        throw Fault("write of " + std::to_string(size) + " bytes at " + pe::Hex(address) + " outside guest memory");
    // New code where the host wrote it: read again.
    const uint64_t end = uint64_t{address} + size;
    for (const CodeRange &r : codeRanges_)
        if (address < r.end && end > r.begin)
            code_.forget(address, size);
}

uint32_t Machine::readU32(uint32_t address) const
{
    uint32_t v = 0;
    read(address, &v, 4);
    return v;
}

void Machine::fail(const std::string &what, const std::string &culprit, FaultKind kind)
{
    if (fault_.empty() && machineError_.empty()) {
        fault_ = what;
        faultCulprit_ = culprit;
        stopAtFault(runEntry_ + ": " + what, kind);
    }
    uc_emu_stop(uc());
}

void Machine::failMachine(const std::string &what)
{
    if (fault_.empty() && machineError_.empty()) {
        machineError_ = what;
        stopAtFault(runEntry_ + ": " + what, FaultKind::Rule);
    }
    uc_emu_stop(uc());
}

uint32_t Machine::call(const std::string &exportName, const std::vector<uint32_t> &args)
{
    return run(exportAddress(exportName), exportName, args);
}

uint32_t Machine::call(const std::string &module, const std::string &exportName, const std::vector<uint32_t> &args)
{
    for (const LoadedImage &l : loaded_)
        if (SameModule(l.module, module)) {
            const auto target = l.exportAddress(exportName);
            if (!target)
                throw Fault(module + " exports no " + exportName);
            return run(*target, module + "!" + exportName, args);
        }
    if (SameModule(module, "zerval.sys"))
        return call(exportName, args);
    throw Fault("no image " + module + " is loaded");
}

// Where an image's import lands: an export of a loaded image with that module
// name, or the simulated kernel's or sibling's stub.
uint32_t Machine::bindImport(const std::string &importer, const pe::Import &import) const
{
    for (const LoadedImage &l : loaded_)
        if (SameModule(l.module, import.module)) {
            if (const auto address = l.exportAddress(import.name); address && import.name != "DriverEntry")
                return *address;
            throw Error(importer + " imports " + import.module + "!" + import.name + ", which " + l.module +
                        " does not export (" + ExportsOf(*l.image) + ")");
        }
    if (const Served *p = provided(import.module, import.name))
        return providedStub(*p);
    throw ImportRefused(importer + " imports " + pe::Printable(import.module) + "!" + pe::Printable(import.name) +
                            ", which the simulation does not serve",
                        importer);
}

// Names a call that entered a loaded image at an address: one of its exports
// (the stdcall argument bytes from the decorated name), its entry point, or
// a hook the services driver put in the module's table.
Machine::Entered Machine::describeCall(size_t image, uint32_t address) const
{
    const LoadedImage &l = loaded_[image];
    if (const auto name = l.exportAt(address)) {
        if (*name == "DriverEntry")
            return Entered{*name, 8, std::nullopt};
        const auto bytes = StdcallArgBytes(*name);
        if (!bytes)
            throw Fault("call to " + l.module + "!" + *name + ", which does not say its stdcall argument bytes");
        return Entered{*name, *bytes, std::nullopt, ExportResultBytes(*name)};
    }
    if (servicesTable_ != 0) {
        for (int h = 0; h < sim::kHookCount; ++h) {
            const sim::Hook hook = static_cast<sim::Hook>(h);
            if (hook != sim::Hook::TvControl && readU32(SlotAddress(servicesTable_, hook)) == address)
                return Entered{sim::kHookNames[h], servedHook(hook).argBytes, hook, sim::HookResultBytes(hook)};
        }
    }
    throw Fault("call into " + l.module + " at " + pe::Hex(address) + ", neither an export nor a hook in the table");
}

int Machine::runEngine(uint32_t target)
{
    uc_err err = UC_ERR_OK;
    for (restartAt_ = target; restartAt_ != 0 && err == UC_ERR_OK;) {
        const uint32_t from = restartAt_;
        restartAt_ = 0;
        err = uc_emu_start(uc(), from, 0, 0, 0);
        if (!fault_.empty() || !machineError_.empty() || limitReached_)
            break;
    }
    return err;
}

uint32_t Machine::run(uint32_t target, const std::string &exportName, const std::vector<uint32_t> &args)
{
    crossings_.clear();
    current_ = SIZE_MAX;
    runEntry_ = exportName;
    // The image the host calls answers for the stack and registers it hands back.
    const std::string entered = culpritOf(imageAt(target));
    uint32_t esp = kStackTop;
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
        esp -= 4;
        write(esp, &*it, 4);
    }
    esp -= 4;
    write(esp, &kSentinel, 4);
    uc_reg_write(uc(), UC_X86_REG_ESP, &esp);
    for (int i = 0; i < kSavedRegisterCount; ++i)
        uc_reg_write(uc(), kSavedRegisters[i].id, &kSavedValues[i]);
    const uint32_t garbage = 0xEEEEEEEEu;
    for (int reg : {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX})
        uc_reg_write(uc(), reg, &garbage);
    const CallFrame frame = FrameOfCall(uc(), esp, static_cast<uint32_t>(4 * args.size()));

    entryEsp_ = esp;
    entryArgBytes_ = static_cast<uint32_t>(4 * args.size());
    code_.begin(esp);
    last_ = CallStats{};
    fault_.clear();
    faultCulprit_.clear();
    faultAddress_.reset();
    machineError_.clear();
    limitReached_ = false;
    // At DISPATCH_LEVEL and above the verifier has trimmed every pageable
    // page: the first touch faults.
    const bool trimmed = irql_ >= kPagedPoolUntouchable;
    if (trimmed)
        specialPool_.trimPaged(true);
    const uc_err err = static_cast<uc_err>(runEngine(target));
    if (trimmed)
        specialPool_.trimPaged(false);
    last_.instructions = code_.instructions();
    last_.stackBytes = entryEsp_ + 4 - code_.lowestEsp();

    uint32_t eip = 0, eax = 0, espAfter = 0;
    uc_reg_read(uc(), UC_X86_REG_EIP, &eip);
    uc_reg_read(uc(), UC_X86_REG_EAX, &eax);
    uc_reg_read(uc(), UC_X86_REG_ESP, &espAfter);
    // A hook the entry jumped to (a tail call) returns straight to the host:
    // the engine stops at the sentinel before any hook of ours sees it.
    if (eip == kSentinel && fault_.empty() && machineError_.empty()) {
        try {
            returnedTo(espAfter);
        } catch (const Fault &f) {
            fail(f.what(), f.culprit);
        }
    }
    if (!machineError_.empty())
        throw Error(exportName + ": " + machineError_);
    if (!fault_.empty()) {
        Fault fault(exportName + ": " + fault_, faultCulprit_);
        fault.address = faultAddress_;
        throw fault;
    }
    if (err != UC_ERR_OK)
        throw stoppedAt(Fault(exportName + ": " + uc_strerror(err) + " at EIP " + pe::Hex(eip), culpritOf(imageAt(eip))),
                        FaultKind::Instruction);
    if (eip != kSentinel)
        throw stoppedAt(Fault(exportName + ": did not return within " + std::to_string(CodeChecks::kInstructionLimit) +
                                  " instructions, at " + where(eip),
                              culpritOf(imageAt(eip))),
                        FaultKind::Rule);
    const std::string returned =
        !loaded_.empty() ? "; it returned at " + locate(code_.lastInstruction()) + instructionText(code_.lastInstruction())
                         : "";
    if (const std::string breach = ReturnBreach(uc(), frame, espAfter); !breach.empty())
        throw stoppedAt(Fault(exportName + ": " + breach + returned, entered), FaultKind::Rule);
    return eax;
}

// A record or buffer handed to a hook lies in the frames of the module code
// now running: above the hook's return address and its own arguments, and
// below the entry's return address.  Pool memory may be paged out when a
// services driver touches it at raised IRQL; the stack of the running thread
// is resident.
void Machine::requireInCallerFrames(uint32_t address, uint32_t size, uint32_t hookEsp, uint32_t argBytes) const
{
    if (const std::string outside = RecordOutsideFrames(address, size, hookEsp, argBytes, entryEsp_); !outside.empty())
        throw Fault(outside);
}

void Machine::onBlock(uint32_t address, uint32_t size)
{
    // A call or return between images shows at the first block run in the
    // other image, while the last instruction run is still the one that left.
    if (!loaded_.empty())
        crossing(imageAt(address), address);
    try {
        switch (code_.block(address, size)) {
        case CodeChecks::Verdict::Run:
        case CodeChecks::Verdict::Refused: break;  // refused only at a watched instruction
        case CodeChecks::Verdict::Restart:
            restartAt_ = address;
            uc_emu_stop(uc());
            break;
        case CodeChecks::Verdict::Limit:
            limitReached_ = true;
            uc_emu_stop(uc());
            break;
        }
    } catch (const Error &e) {
        failMachine(e.what());
    }
}

void Machine::onWatchedInstruction(uint32_t address, uint32_t size)
{
    try {
        switch (code_.instruction(address, size)) {
        case CodeChecks::Verdict::Run:
            if (instructionSink_)
                instructionSink_(address);
            break;
        case CodeChecks::Verdict::Restart: break;
        case CodeChecks::Verdict::Limit:
            limitReached_ = true;
            uc_emu_stop(uc());
            break;
        case CodeChecks::Verdict::Refused: refuse(address); break;
        }
    } catch (const Error &e) {
        failMachine(e.what());
    }
}

// An x87, MMX, SSE or AVX instruction about to run, in the module or a neighbour.
void Machine::refuse(uint32_t address)
{
    const size_t image = imageAt(address);
    const std::string culprit = culpritOf(image);
    fail((culprit.empty() ? "" : culprit + ": ") + code_.refusal() + " instruction at " + pe::Hex(address) +
             ": kernel code may not use the floating-point or SIMD registers (" + where(address) +
             instructionText(address) + ")",
         culprit, FaultKind::Instruction);
}

void Machine::onCodeWrite(uint32_t address, uint32_t size) { code_.forget(address, size); }

uint32_t Machine::instructionBytes(uint32_t address, uint8_t (&bytes)[kLongestInstruction]) const
{
    // The longest an instruction may be, or as much as is mapped.
    for (uint32_t n = sizeof bytes; n > 0; --n)
        if (uc_mem_read(uc(), address, bytes, n) == UC_ERR_OK)
            return n;
    return 0;
}

std::string Machine::instructionText(uint32_t address) const
{
    if (!code_.watched(address))
        return "";  // read ahead by blocks: the address may be its block's, not the instruction's
    uint8_t bytes[kLongestInstruction];
    const uint32_t n = instructionBytes(address, bytes);
    return n == 0 ? "" : ": " + Disassemble(bytes, n, address);
}

bool Machine::onBadAccess(int type, uint64_t address, int size)
{
    const char *kind = "access";
    switch (type) {
    case UC_MEM_READ_UNMAPPED: kind = "read of unmapped memory"; break;
    case UC_MEM_WRITE_UNMAPPED: kind = "write to unmapped memory"; break;
    case UC_MEM_FETCH_UNMAPPED: kind = "jump to unmapped memory"; break;
    case UC_MEM_WRITE_PROT: kind = "write to read-only memory"; break;
    case UC_MEM_READ_PROT: kind = "read of unreadable memory"; break;
    case UC_MEM_FETCH_PROT: kind = "execution of non-executable memory"; break;
    default: break;
    }
    // At DISPATCH_LEVEL and above a paged block is trimmed: the kernel's
    // IRQL_NOT_LESS_OR_EQUAL.
    const bool pageable = irql_ >= kPagedPoolUntouchable && specialPool_.inPagedBlock(static_cast<uint32_t>(address));
    std::string what;
    if (pageable)
        what = std::string("IRQL_NOT_LESS_OR_EQUAL: ") +
               (type == UC_MEM_WRITE_PROT ? "write to" : type == UC_MEM_FETCH_PROT ? "execution of" : "read of") +
               " paged pool at " + pe::Hex(address) + " at " + IrqlName(irql_);
    else if (const VideoPort::Buffer *b = videoPort_.bufferBefore(static_cast<uint32_t>(address)))
        what = std::string(kind) + " at " + pe::Hex(address) + ", " +
               std::to_string(address - (uint64_t{b->address} + b->bytes)) + " bytes past the end of the " +
               std::to_string(b->bytes) + "-byte " + b->what;
    else
        what = std::string(kind) + " at " + pe::Hex(address) +
               (specialPool_.inRange(static_cast<uint32_t>(address)) ? " (a pool guard page or a freed block)"
                : address < kPage                                    ? " (NULL)"
                                                                     : "");
    uint32_t eip = 0;
    uc_reg_read(uc(), UC_X86_REG_EIP, &eip);
    // The instruction that did it; for a jump outside every image, the last
    // one run before it.  Where code was fetched from data, there is none.
    const uint32_t by = imageAt(eip) != SIZE_MAX ? eip : code_.lastInstruction();
    const bool fetched = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT;
    if (fault_.empty() && machineError_.empty())
        faultAddress_ = static_cast<uint32_t>(address);
    fail(what + ", " + std::to_string(size) + " bytes, EIP " + pe::Hex(eip) + (by == eip ? ", at " : ", from ") +
             this->where(by) + (fetched && by == eip ? "" : instructionText(by)),
         culpritOf(imageAt(by)), FaultKind::Access);
    return false;
}

void Machine::requirePagedPoolAllowed(const std::string &what) const
{
    if (irql_ > kMostForPagedPool)
        throw Fault("BAD_POOL_CALLER: " + what + " at " + IrqlName(irql_) + ", where paged pool may not be " +
                    "allocated or freed (" + IrqlName(kMostForPagedPool) + " at most)");
}

uint32_t Machine::allocate(uint32_t poolType, uint32_t size, uint32_t tag)
{
    if (IsPagedPool(poolType))
        requirePagedPoolAllowed("a request of " + std::to_string(size) + " bytes of paged pool (type " +
                                std::to_string(poolType) + ")");
    uint32_t address = 0;
    if (pool_.admit(poolType, size, tag))
        address = specialPool_.allocate(size, IsPagedPool(poolType));
    pool_.recordAllocation(address, poolType, size, tag);
    sim::CallRecord c{sim::Callee::AllocatePool};
    c.args = {poolType, size, tag};
    c.result = address;
    log_.add(c);
    return address;
}

void Machine::freePool(uint32_t address)
{
    if (specialPool_.isPaged(address))
        requirePagedPoolAllowed("the free of paged pool at " + pe::Hex(address));
    sim::CallRecord c{sim::Callee::FreePool};
    c.args = {address};
    log_.add(c);
    if (pool_.recordFree(address) && !specialPool_.release(address))
        pool_.fault("ExFreePool(" + pe::Hex(address) + "): written below the start of the block");
}

void Machine::onStub(uint32_t address)
{
    if (address == kSentinel)
        return;  // the entry returned to the host (run() takes it from there)
    // A call between images whose callee returns to a served routine (a
    // callback's answer) ends here.
    if (!crossings_.empty()) {
        uint32_t esp = 0;
        uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
        try {
            returnedTo(esp);
        } catch (const Fault &f) {
            fail(f.what(), f.culprit);
            return;
        }
    }
    const uint32_t slot = (address - kStubPage) / kStubSize;
    if (slot >= stubs_.size() || address % kStubSize != 0) {
        failMachine("call to " + pe::Hex(address) + " on the stub page: slot " + std::to_string(slot) + " (" +
                    (slot < stubs_.size() ? std::string(stubs_[slot].served->name) + ", not at its start"
                                          : std::string("nothing bound")) +
                    ") has no handler");
        return;
    }
    const Stub &stub = stubs_[slot];
    const Served &served = *stub.served;
    // The return address and the arguments, in one read.
    ServedCall call{};
    call.via = stub.via;
    call.argBytes = served.argBytes;
    call.caller = loaded_.empty() ? 0 : imageAt(code_.lastInstruction());
    call.served = &served;
    uc_reg_read(uc(), UC_X86_REG_ESP, &call.esp);
    code_.stackAt(call.esp);
    ++last_.hookCalls;
    // With real images loaded, the trace shows which of them called it.
    const bool traced = !loaded_.empty() && current_ < loaded_.size();
    if (traced) {
        Crossing c;
        c.logIndex = log_.calls().size();
        c.depth = static_cast<int>(crossings_.size());
        c.caller = loaded_[current_].module;
        c.entry = served.name;
        c.at = code_.lastInstruction();
        crossingLog_.push_back(std::move(c));
    }
    const size_t logged = traced ? crossingLog_.size() - 1 : 0;
    servedCrossing_ = traced ? logged : SIZE_MAX;
    const uint32_t caller = code_.lastInstruction();
    uint32_t eax = 0;
    try {
        static_assert(sizeof call.args >= 44, "room for the widest served routine's arguments");
        if (served.argBytes > sizeof call.args)
            throw Error("emulator: " + std::string(served.name) + " takes more arguments than a served call holds");
        read(call.esp + 4, call.args, served.argBytes);
        eax = served.serve(*this, call);
        uc_reg_write(uc(), UC_X86_REG_EAX, &eax);
    } catch (const Error &e) {
        failMachine(std::string("in ") + served.name + ": " + e.what());  // the machine's own failure, not the image's
    } catch (const std::exception &e) {
        const size_t from = imageAt(caller);
        fail(std::string("in ") + served.name + ": " + e.what() +
                 (from != 0 && from != SIZE_MAX ? ", called from " + where(caller) : ""),
             culpritOf(from));
    }
    if (traced) {
        Crossing &c = crossingLog_[logged];
        c.logEnd = log_.calls().size();
        c.returned = true;
        c.result = eax;
        // A routine the call log does not show: its name and arguments.
        if (c.logEnd == c.logIndex && c.said.empty()) {
            for (uint32_t i = 0; i < served.argBytes / 4; ++i)
                c.args.push_back(call.args[i]);
            c.said = Describe(c);
        }
    }
    servedCrossing_ = SIZE_MAX;
}

void Machine::describeServed(const std::string &text)
{
    if (servedCrossing_ < crossingLog_.size())
        crossingLog_[servedCrossing_].said = text;
}

uint32_t Machine::callAt(uint32_t target, const std::string &name, const std::vector<uint32_t> &args)
{
    if (imageAt(target) == SIZE_MAX)
        throw Fault(name + ": " + pe::Hex(target) + " lies in no image", culpritOf(imageAt(code_.lastInstruction())));
    return run(target, name, args);
}

uint32_t Machine::allocateForImage(uint32_t size, bool exactEnd, uint8_t fill)
{
    const uint32_t address = specialPool_.allocate(size, false, exactEnd);
    const std::vector<uint8_t> bytes(size, fill);
    write(address, bytes.data(), size);
    return address;
}

void Machine::freeForImage(uint32_t address)
{
    if (specialPool_.isBlock(address))
        specialPool_.release(address);
}

std::string Machine::imageNameAt(uint32_t address) const
{
    const size_t image = imageAt(address);
    return image == SIZE_MAX ? std::string() : moduleName(image);
}

} // namespace emu
