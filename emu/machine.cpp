#include "machine.h"

#include "callee_saved.h"
#include "fpu_simd.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>

namespace emu {

namespace {

constexpr uint8_t kPoolFill = 0xA5;  // fresh pool memory, never zero
constexpr uint32_t kStubPage = 0x00700000;
constexpr uint32_t kStubSize = 16;  // bytes of the stub page per stub
constexpr uint32_t kSentinel = kStubPage + kPage - kStubSize;
constexpr uint32_t kStackBase = 0x00100000;
constexpr uint32_t kStackSize = 0x10000;
constexpr uint32_t kStackTop = kStackBase + kStackSize - 0x100;
constexpr uint64_t kInstructionLimit = 50'000'000;
// The image (at most kLargestImage) lies between the stub page and the pool.
static_assert(Machine::kLoadBase + kLargestImage <= Machine::kPoolBase, "the image ends below the pool");

// Values the image's callee-saved registers must still hold on return.
constexpr uint32_t kSavedValues[kSavedRegisterCount] = {0xB0B0B0B0u, 0x51515151u, 0xD1D1D1D1u, 0xBBBB0000u};

// Where a hook's slot lies in a guest DllExt: the guest's pointers are 4 bytes.
uint32_t SlotAddress(uint32_t table, sim::Hook hook) { return table + 4 * static_cast<uint32_t>(sim::DllExtSlot(hook)); }

// The TV driver's function, which the module puts in pfnTvControl.
constexpr const char *kTvControlExport = "_S_RMX_Control@12";

} // namespace

// What the simulated kernel and sibling drivers export to an image, and the
// member serving each.
const Machine::Provided Machine::kProvided[] = {
    {"ntoskrnl.exe", "ExAllocatePoolWithTag", 12, &Machine::serveAllocatePool},
    {"ntoskrnl.exe", "ExFreePool", 4, &Machine::serveFreePool},
    {"ntoskrnl.exe", "ZwCreateFile", 44, &Machine::serveCreateFile},
    {"ntoskrnl.exe", "ZwWriteFile", 36, &Machine::serveWriteFile},
    {"ntoskrnl.exe", "ZwClose", 4, &Machine::serveClose},
    {"videoprt.sys", "VideoPortZeroMemory", 8, &Machine::serveZeroMemory},
    {"kelv.sys", Machine::kServicesAttach, 16, &Machine::serveAttach},
    {"rmx.sys", "_AttachRMX@8", 8, &Machine::serveAttachRmx},
    {"rmx.sys", kTvControlExport, 12, &Machine::serveTvControl},
};

// The services driver's hooks, in sim::Hook order; pfnTvControl, the last,
// is the TV driver's S_RMX_Control above.
const Machine::ServedHook Machine::kServedHooks[] = {
    {4, &Machine::serveInit},
    {8, &Machine::serveQueryMode},
    {12, &Machine::serveSetMode},
    {12, &Machine::servePassThrough},
    {4, &Machine::serveFunction},
    {0, &Machine::serveGetFreeFramebufferSize},
    {0, &Machine::serveSetInitialValue},
};

// The engine calls plain functions; these hand each call to its machine.
struct Machine::Callbacks {
    static void stub(uc_engine *, uint64_t address, uint32_t, void *user)
    {
        static_cast<Machine *>(user)->onStub(static_cast<uint32_t>(address));
    }
    static void image(uc_engine *, uint64_t address, uint32_t size, void *user)
    {
        static_cast<Machine *>(user)->onImageInstruction(static_cast<uint32_t>(address), size);
    }
    static void neighbour(uc_engine *, uint64_t address, uint32_t size, void *user)
    {
        static_cast<Machine *>(user)->onNeighbourInstruction(static_cast<uint32_t>(address), size);
    }
    static bool badAccess(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *user)
    {
        return static_cast<Machine *>(user)->onBadAccess(static_cast<int>(type), address, size);
    }
    static void stackWrite(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *user)
    {
        static_cast<Machine *>(user)->onStackWrite(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
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

Machine::Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool)
    : Machine(image, adapter, log, pool, {})
{
}

Machine::Machine(const pe::Image &image, sim::Adapter &adapter, sim::CallLog &log, sim::PoolLedger &pool,
                 std::vector<Neighbour> neighbours)
    : image_(image), adapter_(adapter), log_(log), pool_(pool), neighbours_(std::move(neighbours))
{
    CheckLoadable(image);
    for (const pe::Import &i : image.imports) {
        const bool neighbour = std::any_of(neighbours_.begin(), neighbours_.end(),
                                           [&](const Neighbour &n) { return SameModule(n.module, i.module); });
        if (provided(i.module, i.name) == nullptr && !neighbour)
            throw Error("imports " + pe::Printable(i.module) + "!" + pe::Printable(i.name) +
                        ", which the simulation does not provide");
    }

    uc_struct *engine = nullptr;
    CheckEngine(uc_open(UC_ARCH_X86, UC_MODE_32, &engine), "open");
    engine_.reset(engine);  // closed again by a load that fails, too
    const uint32_t imageSize = MapImage(uc(), image, kLoadBase);
    checked_.assign(imageSize, false);
    CheckEngine(uc_mem_map(uc(), kStubPage, kPage, UC_PROT_ALL), "map stubs");
    CheckEngine(uc_mem_map(uc(), kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE), "map stack");
    CheckEngine(uc_mem_map(uc(), kCallerData, kCallerDataSize, UC_PROT_READ | UC_PROT_WRITE), "map caller data");

    // Imports and hooks: a `ret N` each on the stub page, bound to what
    // serves it.
    static_assert(std::size(kServedHooks) + 1 == sim::kHookCount, "every hook but pfnTvControl is served");
    for (const Provided &p : kProvided)
        providedStubs_.push_back(addStub(p.name, p.argBytes, sim::Entry::Original, p.serve));
    for (int h = 0; h < static_cast<int>(std::size(kServedHooks)); ++h)
        for (const sim::Entry via : {sim::Entry::Original, sim::Entry::Replacement})
            hookStubs_[static_cast<int>(via)][h] =
                addStub(sim::kHookNames[h], kServedHooks[h].argBytes, via, kServedHooks[h].serve);
    // hookAddress(TvControl) is the simulated TV driver's S_RMX_Control, also
    // when a real rmx.sys is loaded (the module's import then binds to that
    // image's own).
    const uint32_t tvControl = providedStub(*provided("rmx.sys", kTvControlExport));
    for (const sim::Entry via : {sim::Entry::Original, sim::Entry::Replacement})
        hookStubs_[static_cast<int>(via)][static_cast<int>(sim::Hook::TvControl)] = tvControl;
    const uint8_t hlt = 0xF4;
    write(kSentinel, &hlt, 1);
    loadNeighbours();
    for (const pe::Import &i : image.imports) {
        const uint32_t stub = bindImport("zerval.sys", i);
        write(kLoadBase + i.iatRva, &stub, 4);
    }

    // Now the protections the section flags ask for.
    ProtectImage(uc(), image, kLoadBase, imageSize);
    CheckEngine(uc_mem_protect(uc(), kStubPage, kPage, UC_PROT_READ | UC_PROT_EXEC), "protect stubs");
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
    CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_CODE, reinterpret_cast<void *>(Callbacks::image), this, kLoadBase,
                            kLoadBase + imageSize - 1),
                "hook image");
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

void Machine::watchNeighbour(const LoadedImage &l)
{
    uc_hook h;
    CheckEngine(uc_hook_add(uc(), &h, UC_HOOK_CODE, reinterpret_cast<void *>(Callbacks::neighbour), this, l.base,
                            l.base + l.size - 1),
                "watch " + l.module);
}

Machine::~Machine() = default;

void Machine::CloseEngine::operator()(uc_struct *engine) const { uc_close(engine); }

void Machine::reset()
{
    for (const auto &[address, block] : poolBlocks_)
        CheckEngine(uc_mem_unmap(uc(), block.base, block.bytes), "unmap pool");
    poolBlocks_.clear();
    nextPool_ = kPoolBase;
    for (const Snapshot &snap : writable_)
        write(snap.address, snap.bytes.data(), static_cast<uint32_t>(snap.bytes.size()));
    const std::vector<uint8_t> zeros(std::max(kStackSize, kCallerDataSize), 0);
    write(kStackBase, zeros.data(), kStackSize);
    write(kCallerData, zeros.data(), kCallerDataSize);
    last_ = CallStats{};
    fault_.clear();
    faultCulprit_.clear();
    machineError_.clear();
    crossingLog_.clear();
}

uint32_t Machine::addStub(const std::string &name, uint32_t argBytes, sim::Entry via, Serve serve)
{
    const uint32_t address = kStubPage + kStubSize * static_cast<uint32_t>(stubs_.size());
    if (address + kStubSize > kSentinel)
        throw Error("emulator: no room for the stub of " + name);
    const uint8_t code[3] = {static_cast<uint8_t>(argBytes ? 0xC2 : 0xC3), static_cast<uint8_t>(argBytes),
                             static_cast<uint8_t>(argBytes >> 8)};
    write(address, code, argBytes ? 3 : 1);
    stubs_.push_back(Stub{name, argBytes, via, serve});
    return address;
}

const Machine::Provided *Machine::provided(const std::string &module, const std::string &name) const
{
    for (const Provided &p : kProvided)
        if (SameModule(module, p.module) && name == p.name)
            return &p;
    return nullptr;
}

uint32_t Machine::providedStub(const Provided &p) const { return providedStubs_.at(static_cast<size_t>(&p - kProvided)); }

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
}

uint32_t Machine::readU32(uint32_t address) const
{
    uint32_t v = 0;
    read(address, &v, 4);
    return v;
}

uint32_t Machine::arg(int index) const
{
    uint32_t esp = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    return readU32(esp + 4 + 4 * static_cast<uint32_t>(index));
}

void Machine::fail(const std::string &what, const std::string &culprit)
{
    if (fault_.empty() && machineError_.empty()) {
        fault_ = what;
        faultCulprit_ = culprit;
    }
    uc_emu_stop(uc());
}

void Machine::failMachine(const std::string &what)
{
    if (fault_.empty() && machineError_.empty())
        machineError_ = what;
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
    if (const Provided *p = provided(import.module, import.name))
        return providedStub(*p);
    throw Error(importer + " imports " + import.module + "!" + import.name +
                ", which the simulation does not provide");
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
        return Entered{*name, *bytes, std::nullopt};
    }
    if (servicesTable_ != 0) {
        for (int h = 0; h < static_cast<int>(std::size(kServedHooks)); ++h)
            if (readU32(SlotAddress(servicesTable_, static_cast<sim::Hook>(h))) == address)
                return Entered{sim::kHookNames[h], kServedHooks[h].argBytes, static_cast<sim::Hook>(h)};
    }
    throw Fault("call into " + l.module + " at " + pe::Hex(address) + ", neither an export nor a hook in the table");
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

    entryEsp_ = esp;
    minEsp_ = esp;
    last_ = CallStats{};
    fault_.clear();
    faultCulprit_.clear();
    machineError_.clear();
    const uc_err err = uc_emu_start(uc(), target, kSentinel, 0, kInstructionLimit);

    uint32_t eip = 0, eax = 0, espAfter = 0;
    uc_reg_read(uc(), UC_X86_REG_EIP, &eip);
    uc_reg_read(uc(), UC_X86_REG_EAX, &eax);
    uc_reg_read(uc(), UC_X86_REG_ESP, &espAfter);
    if (!machineError_.empty())
        throw Error(exportName + ": " + machineError_);
    if (!fault_.empty())
        throw Fault(exportName + ": " + fault_, faultCulprit_);
    if (err != UC_ERR_OK)
        throw Fault(exportName + ": " + uc_strerror(err) + " at EIP " + pe::Hex(eip), culpritOf(imageAt(eip)));
    if (eip != kSentinel)
        throw Fault(exportName + ": did not return within " + std::to_string(kInstructionLimit) + " instructions, at " +
                        where(eip),
                    culpritOf(imageAt(eip)));
    const std::string returned = !loaded_.empty() ? "; it returned at " + locate(lastAddress_) : "";
    if (espAfter != kStackTop) {
        const int32_t popped = static_cast<int32_t>(espAfter - (esp + 4));
        throw Fault(exportName + ": stack unbalanced: the callee popped " + std::to_string(popped) +
                        " bytes of arguments, stdcall wants " + std::to_string(4 * args.size()) + returned,
                    entered);
    }
    for (int i = 0; i < kSavedRegisterCount; ++i) {
        uint32_t v = 0;
        uc_reg_read(uc(), kSavedRegisters[i].id, &v);
        if (v != kSavedValues[i])
            throw Fault(exportName + ": " + kSavedRegisters[i].name + " not preserved (" + pe::Hex(v) + ")" + returned,
                        entered);
    }
    last_.stackBytes = entryEsp_ + 4 - minEsp_;
    return eax;
}

// A record or buffer handed to a hook lies in the frames of the module code
// now running: above the hook's return address and its own arguments, and
// below the entry's return address.  Pool memory may be paged out when a
// services driver touches it at raised IRQL; the stack of the running thread
// is resident.
void Machine::requireInCallerFrames(uint32_t address, uint32_t size, uint32_t argBytes) const
{
    uint32_t esp = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    const uint64_t low = uint64_t{esp} + 4 + argBytes;
    const uint64_t end = uint64_t{address} + size;
    if (address < low || end > entryEsp_)
        throw Fault("handed a " + std::to_string(size) + "-byte record at " + pe::Hex(address) +
                    ", outside the caller's stack frame (" + pe::Hex(low) + " to " + pe::Hex(entryEsp_) + ")");
}

void Machine::onImageInstruction(uint32_t address, uint32_t size)
{
    if (!loaded_.empty())
        crossing(0, address);
    lastAddress_ = address;
    ++last_.instructions;
    const uint32_t offset = address - kLoadBase;
    if (offset < checked_.size() && !checked_[offset]) {
        uint8_t bytes[16] = {};
        const uint32_t n = std::min<uint32_t>(size, sizeof bytes);
        read(address, bytes, n);
        if (const char *use = FpuOrSimdUse(bytes, n)) {
            fail(std::string(use) + " instruction at " + pe::Hex(address) +
                 ": kernel code may not use the floating-point or SIMD registers (" + where(address) + ")");
            return;
        }
        checked_[offset] = true;  // only instructions that passed are not looked at again
    }
    uint32_t esp = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    minEsp_ = std::min(minEsp_, esp);
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
    std::string where;
    if (address >= kPoolBase && address < nextPool_)
        where = " (a pool guard page or a freed block)";
    else if (address < kPage)
        where = " (NULL)";
    uint32_t eip = 0;
    uc_reg_read(uc(), UC_X86_REG_EIP, &eip);
    // The instruction that did it; for a jump outside every image, the last
    // one run before it.
    const uint32_t by = imageAt(eip) != SIZE_MAX ? eip : lastAddress_;
    fail(std::string(kind) + " at " + pe::Hex(address) + where + ", " + std::to_string(size) + " bytes, EIP " +
             pe::Hex(eip) + (by == eip ? ", at " : ", from ") + this->where(by),
         culpritOf(imageAt(by)));
    return false;
}

uint32_t Machine::allocate(uint32_t poolType, uint32_t size, uint32_t tag)
{
    uint32_t address = 0;
    if (pool_.admit(poolType, size, tag)) {
        // Special pool: the block ends at a page end, and the page after it is
        // never mapped, so an overrun faults.
        const uint32_t pages = RoundUp(size, kPage);
        const uint32_t base = nextPool_;
        nextPool_ += pages + kPage;
        if (uc_mem_map(uc(), base, pages, UC_PROT_READ | UC_PROT_WRITE) != UC_ERR_OK)
            throw Fault("special pool exhausted");
        address = base + pages - RoundUp(size, 8);
        std::vector<uint8_t> fill(pages, kPoolFill);
        write(base, fill.data(), pages);
        poolBlocks_[address] = PoolBlock{base, pages};
    }
    pool_.recordAllocation(address, poolType, size, tag);
    sim::CallRecord c{sim::Callee::AllocatePool};
    c.args = {poolType, size, tag};
    c.result = address;
    log_.add(c);
    return address;
}

void Machine::freePool(uint32_t address)
{
    sim::CallRecord c{sim::Callee::FreePool};
    c.args = {address};
    log_.add(c);
    if (pool_.recordFree(address)) {
        const PoolBlock block = poolBlocks_.at(address);
        // The bytes before the block still hold the fill pattern, or
        // something wrote below the block's start.
        std::vector<uint8_t> slack(address - block.base);
        read(block.base, slack.data(), static_cast<uint32_t>(slack.size()));
        if (std::any_of(slack.begin(), slack.end(), [](uint8_t b) { return b != kPoolFill; }))
            pool_.fault("ExFreePool(" + pe::Hex(address) + "): written below the start of the block");
        // Unmapped, so a use after free faults.
        CheckEngine(uc_mem_unmap(uc(), block.base, block.bytes), "unmap pool");
        poolBlocks_.erase(address);
    }
}

void Machine::onStub(uint32_t address)
{
    if (address == kSentinel)
        return;  // the entry returned to the host
    const uint32_t slot = (address - kStubPage) / kStubSize;
    if (slot >= stubs_.size() || address % kStubSize != 0) {
        failMachine("call to " + pe::Hex(address) + " on the stub page: slot " + std::to_string(slot) + " (" +
                    (slot < stubs_.size() ? stubs_[slot].name + ", not at its start" : "nothing bound") +
                    ") has no handler");
        return;
    }
    const Stub &stub = stubs_[slot];
    uint32_t esp = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    minEsp_ = std::min(minEsp_, esp);
    ++last_.hookCalls;
    // With real images loaded, the trace shows which of them called it.
    const bool traced = !loaded_.empty() && current_ < loaded_.size();
    if (traced) {
        Crossing c;
        c.logIndex = log_.calls().size();
        c.depth = static_cast<int>(crossings_.size());
        c.caller = loaded_[current_].module;
        c.entry = stub.name;
        crossingLog_.push_back(std::move(c));
    }
    const size_t logged = traced ? crossingLog_.size() - 1 : 0;
    try {
        const uint32_t eax = (this->*stub.serve)(stub);
        uc_reg_write(uc(), UC_X86_REG_EAX, &eax);
    } catch (const Error &e) {
        failMachine("in " + stub.name + ": " + e.what());  // the machine's own failure, not the image's
    } catch (const std::exception &e) {
        const size_t caller = imageAt(lastAddress_);
        fail("in " + stub.name + ": " + e.what() + (caller != 0 && caller != SIZE_MAX ? ", called from " + where(lastAddress_) : ""),
             culpritOf(caller));
    }
    if (traced) {
        crossingLog_[logged].logEnd = log_.calls().size();
        crossingLog_[logged].returned = true;
    }
}

uint32_t Machine::serveAllocatePool(const Stub &) { return allocate(arg(0), arg(1), arg(2)); }

uint32_t Machine::serveFreePool(const Stub &)
{
    freePool(arg(0));
    return 0;
}

uint32_t Machine::serveZeroMemory(const Stub &)
{
    sim::CallRecord c{sim::Callee::ZeroMemory};
    c.args = {arg(0), arg(1)};
    log_.add(c);
    const std::vector<uint8_t> zeros(arg(1), 0);
    write(arg(0), zeros.data(), arg(1));
    return 0;
}

uint32_t Machine::serveAttach(const Stub &)
{
    table_ = std::make_unique<GuestTable>(*this, arg(2));
    return adapter_.attach(arg(0), arg(1), *table_, arg(3));
}

uint32_t Machine::serveAttachRmx(const Stub &) { return adapter_.attachRmx(arg(0), arg(1)); }

uint32_t Machine::serveTvControl(const Stub &) { return adapter_.tvControl(arg(0), arg(1), arg(2)); }

uint32_t Machine::serveInit(const Stub &stub)
{
    sim::InitBuffer buffer;
    requireInCallerFrames(arg(0), static_cast<uint32_t>(buffer.size()), stub.argBytes);
    read(arg(0), buffer.data(), buffer.size());
    const uint32_t eax = adapter_.init(buffer, stub.via);
    write(arg(0), buffer.data(), buffer.size());  // every byte the simulated services driver wrote
    return eax;
}

uint32_t Machine::serveQueryMode(const Stub &stub)
{
    sim::RawQuery raw;
    requireInCallerFrames(arg(0), static_cast<uint32_t>(raw.size()), stub.argBytes);
    read(arg(0), raw.data(), raw.size());
    sim::Query q = sim::FromRaw(raw);
    const uint32_t eax = adapter_.queryMode(q, arg(1), &raw, stub.via);
    raw = sim::ToRaw(q);
    write(arg(0), raw.data(), raw.size());
    return eax;
}

uint32_t Machine::serveSetMode(const Stub &stub)
{
    sim::RawQuery raw;
    requireInCallerFrames(arg(0), static_cast<uint32_t>(raw.size()), stub.argBytes);
    read(arg(0), raw.data(), raw.size());
    return adapter_.setMode(sim::FromRaw(raw), arg(1), arg(2), stub.via);
}

uint32_t Machine::servePassThrough(const Stub &stub)
{
    return static_cast<uint32_t>(adapter_.passThrough(arg(0), arg(1), arg(2), stub.via));
}

uint32_t Machine::serveFunction(const Stub &stub) { return adapter_.function(arg(0), stub.via); }

uint32_t Machine::serveGetFreeFramebufferSize(const Stub &stub) { return adapter_.getFreeFramebufferSize(stub.via); }

uint32_t Machine::serveSetInitialValue(const Stub &stub)
{
    adapter_.setInitialValue(stub.via);
    return 0;
}

} // namespace emu
