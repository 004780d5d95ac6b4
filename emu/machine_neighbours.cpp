// The machine with real images next to the module: loading them, and holding
// every call between two images to the rules the machine applies to a call
// from the host into the module - stdcall balance, callee-saved registers -
// and, for the services driver's hooks, to the records-in-the-caller's-frame
// rule.
#include "machine.h"
#include "write_pointer.h"
#include "x86_decoder.h"


#include <unicorn/unicorn.h>

#include <algorithm>
#include <tuple>

namespace emu {

namespace {

constexpr uint32_t kImageSlot = 0x00400000;  // room for one neighbour

// Records the module hands to the services driver's hooks, and their sizes
// as the documented layout gives them.
struct HandedRecord {
    sim::Hook hook;
    uint32_t bytes;
};
constexpr HandedRecord kHandedRecords[] = {{sim::Hook::Init, std::tuple_size_v<sim::InitBuffer>},
                                           {sim::Hook::QueryMode, std::tuple_size_v<sim::RawQuery>},
                                           {sim::Hook::SetMode, std::tuple_size_v<sim::RawQuery>}};

// One instruction may write below the stack pointer before it moves it: a
// push or a call by 4 bytes, pushad by 32.
constexpr uint32_t kPushReach = 32;

// What the module handed a hook, in its documented terms.
const char *RecordKind(std::optional<sim::Hook> hook) { return hook == sim::Hook::Init ? "buffer" : "ModeQuery"; }

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
            const uint32_t size = load(n.image, base);
            loaded_.push_back(LoadedImage{n.module, &n.image, base, size, n.path});
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
        hookImage(l.base, l.size);
        code_.watchAll(l.base, l.base + l.size - 1);
    }
}

size_t Machine::imageAt(uint32_t address) const
{
    if (loaded_.empty())
        return address >= kLoadBase && address - kLoadBase < MappedSize(image_) ? 0 : SIZE_MAX;
    for (size_t i = 0; i < loaded_.size(); ++i)
        if (loaded_[i].contains(address))
            return i;
    return SIZE_MAX;
}

const std::string &Machine::moduleName(size_t image) const
{
    static const std::string module = "zerval.sys";
    return loaded_.empty() ? module : loaded_.at(image).module;
}

std::string Machine::culpritOf(size_t image) const
{
    return image == 0 || image == SIZE_MAX || loaded_.empty() ? std::string() : loaded_[image].module;
}

std::string Machine::locate(uint32_t address) const
{
    const size_t image = imageAt(address);
    if (image == SIZE_MAX)
        return pe::Hex(address) + ", in no image";
    const pe::Image &pe = loaded_.empty() ? image_ : *loaded_[image].image;
    const uint32_t rva = address - (loaded_.empty() ? kLoadBase : loaded_[image].base);
    const pe::Section *section = pe.sectionAt(rva);
    const std::string source = sourceLineAt(address);
    return moduleName(image) + " " +
           (section != nullptr ? pe::Printable(section->name) + "+" + pe::Hex(rva - section->virtualAddress)
                               : std::string("headers")) +
           " (RVA " + pe::Hex(rva) + (source.empty() ? "" : ", " + source) + ")";
}

std::string Machine::sourceLineAt(uint32_t address) const
{
    const size_t image = imageAt(address);
    if (image == SIZE_MAX || loaded_.empty() || loaded_[image].path.empty())
        return "";
    const LoadedImage &l = loaded_[image];
    return sourceLines_.at(l.path, l.image->imageBase, address - l.base);
}

std::string Machine::where(uint32_t address) const
{
    const size_t image = imageAt(address);
    std::string in;
    for (auto c = crossings_.rbegin(); c != crossings_.rend() && in.empty(); ++c)
        if (c->to == image)
            in = c->callee.entry;
    if (in.empty() && image != SIZE_MAX && imageAt(kLoadBase) == image)
        in = runEntry_;  // the module, entered by the host
    return locate(address) + (in.empty() ? "" : ", in " + in);
}

void Machine::crossing(size_t image, uint32_t address)
{
    if (image == current_)
        return;
    const size_t from = current_;
    current_ = image;
    if (from == SIZE_MAX)
        return;  // the host's call into the first image
    uint32_t esp = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    try {
        if (!crossings_.empty() && esp > crossings_.back().frame.esp)
            returnedTo(esp);
        else
            crossingCall(from, image, address, esp);
    } catch (const Fault &f) {
        fail(f.what(), f.culprit);
    } catch (const std::exception &e) {
        fail(e.what());
    }
}

// A return pops the return address, so the stack pointer ends above it.  A
// callee entered by a jump from another (a tail call) shares its caller's
// return address, and one return ends both calls: the innermost is held to
// its own rules first.
void Machine::returnedTo(uint32_t esp)
{
    while (!crossings_.empty() && esp > crossings_.back().frame.esp)
        crossingReturn(esp);
}

// The callee of the innermost open call returned to its caller: the call is
// held to stdcall and the callee-saved registers, and logged with its answer.
void Machine::crossingReturn(uint32_t esp)
{
    const CrossCall c = crossings_.back();
    crossings_.pop_back();
    Crossing &logged = crossingLog_.at(c.logged);
    logged.returned = true;
    logged.resultBytes = c.callee.resultBytes;
    uc_reg_read(uc(), UC_X86_REG_EAX, &logged.result);
    if (logged.queryIn) {
        sim::RawQuery raw;
        read(c.record, raw.data(), static_cast<uint32_t>(raw.size()));
        logged.queryOut = sim::FromRaw(raw);
    }
    if (c.callee.entry == kServicesAttach && servicesTable_ != 0)
        logged.tableAfter = tableAt(servicesTable_);
    if (c.recordBytes != 0)
        earlierRecords_[c.record] = EarlierRecord{c.recordBytes, RecordKind(c.callee.hook), DescribeCalled(logged), runEntry_};

    // The return instruction: the last one run, in the callee.
    if (const std::string breach = ReturnBreach(uc(), c.frame, esp); !breach.empty())
        throw Fault(c.name + ": " + breach + "; it returned at " + locate(code_.lastInstruction()) +
                        instructionText(code_.lastInstruction()),
                    culpritOf(c.to));
}

// A call from one loaded image into another: named, checked for the record
// it hands over, logged, and kept open until it returns.
void Machine::crossingCall(size_t from, size_t image, uint32_t address, uint32_t esp)
{
    CrossCall c;
    try {
        c.callee = describeCall(image, address);
    } catch (const Fault &f) {
        throw Fault(f.what(), culpritOf(from));  // the caller jumped there
    }
    c.name = loaded_[image].module + "!" + c.callee.entry;
    c.from = from;
    c.to = image;
    c.frame = FrameOfCall(uc(), esp, c.callee.argBytes);
    c.returnAddress = readU32(esp);
    if (c.callee.entry == kServicesAttach)
        servicesTable_ = argAt(esp, 2);

    Crossing logged;
    logged.logIndex = log_.calls().size();
    logged.depth = static_cast<int>(crossings_.size());
    logged.caller = loaded_[from].module;
    logged.callee = loaded_[image].module;
    logged.entry = c.callee.entry;
    logged.at = address;
    for (uint32_t i = 0; i < c.callee.argBytes / 4; ++i)
        logged.args.push_back(argAt(esp, static_cast<int>(i)));
    if (c.callee.hook)
        for (const HandedRecord &h : kHandedRecords)
            if (h.hook == *c.callee.hook) {
                try {
                    requireInCallerFrames(argAt(esp, 0), h.bytes, esp, c.callee.argBytes);
                } catch (const Fault &f) {
                    throw Fault(c.name + ": " + f.what(), culpritOf(from));  // the caller handed it
                }
                c.record = logged.record = argAt(esp, 0);
                c.recordBytes = logged.recordBytes = h.bytes;
                if (h.hook != sim::Hook::Init) {
                    sim::RawQuery raw;
                    read(c.record, raw.data(), static_cast<uint32_t>(raw.size()));
                    logged.queryIn = sim::FromRaw(raw);
                }
            }
    c.logged = crossingLog_.size();
    crossingLog_.push_back(std::move(logged));
    crossings_.push_back(c);
    if (from == 0)
        ++last_.hookCalls;  // a call out of the module, into a real sibling
}

const std::pair<const uint32_t, Machine::EarlierRecord> *Machine::keptRecord(uint32_t eip, uint64_t at, uint64_t end,
                                                                             bool freeStack, const CrossCall *call) const
{
    if (earlierRecords_.empty())
        return nullptr;
    uint8_t code[kLongestInstruction];
    const std::optional<uint32_t> pointer = WritePointer(uc(), code, instructionBytes(eip, code));
    if (!pointer || (call != nullptr && *pointer - call->record < call->recordBytes))
        return nullptr;  // through no register, or through the record the open call was handed
    auto r = earlierRecords_.upper_bound(*pointer);
    if (r == earlierRecords_.begin())
        return nullptr;
    --r;
    const uint64_t start = r->first, stop = start + r->second.bytes;
    if (freeStack)
        return *pointer < stop && at >= start && end <= stop ? &*r : nullptr;
    // In the module's live frames, where records handed at other depths
    // overlap what it uses now: only a pointer to the very start of one is
    // taken for a kept one, not one an overrun computed into a register.
    return *pointer == start ? &*r : nullptr;
}

// While a call the module made into a neighbour is open, the stack above that
// call's arguments is the module's (and its callers'): the code running there
// may write only the record it was handed.  Its own return address is not
// its own either.  Below those arguments the stack is the neighbours' own,
// down to ESP.  A record handed to a hook was the hook's only until it
// returned: a neighbour that writes one later, from any call, kept its
// address - a write in the module's frames through a pointer to an earlier
// record's start, or one below ESP, in stack nobody owns, that changes an
// earlier record.
void Machine::onStackWrite(uint32_t address, uint32_t size, uint64_t value)
{
    if (current_ == 0 || current_ >= loaded_.size())
        return;  // the module's own code, or the host
    const CrossCall *call = nullptr;
    for (auto c = crossings_.rbegin(); c != crossings_.rend() && call == nullptr; ++c)
        if (c->from == 0)
            call = &*c;
    const uint64_t at = address, end = uint64_t{address} + size;
    if (call != nullptr && call->recordBytes != 0 && at >= call->record && end <= uint64_t{call->record} + call->recordBytes)
        return;  // the record it was handed
    uint32_t eip = 0, esp = 0;
    uc_reg_read(uc(), UC_X86_REG_EIP, &eip);
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    const size_t writer = imageAt(eip) != SIZE_MAX ? imageAt(eip) : current_;
    // The neighbours' own stack: up to the arguments of the innermost call
    // from the module, or of the host's call when there is none.
    const uint64_t ownTop = call != nullptr ? uint64_t{call->frame.esp} + 4 + call->callee.argBytes
                                            : uint64_t{entryEsp_} + 4 + entryArgBytes_;
    const bool freeStack = end + kPushReach <= esp;
    if (!freeStack && end <= ownTop)
        return;
    // Below ESP a write that leaves the bytes as they were (a stack probe's
    // `or [ecx], 0`) changes nothing a kept pointer could.
    uint64_t before = 0;
    if (freeStack && size <= sizeof before) {
        read(address, &before, size);
        if (before == (size == 8 ? value : value & ((uint64_t{1} << (8 * size)) - 1)))
            return;
    }
    if (const auto *earlier = keptRecord(eip, at, end, freeStack, call)) {
        const EarlierRecord &r = earlier->second;
        const int64_t offset = static_cast<int64_t>(at) - earlier->first;
        fail(moduleName(writer) + " wrote " + std::to_string(size) + " bytes through a pointer kept from an earlier call: at offset " +
                 (offset < 0 ? "-" : "+") + std::to_string(offset < 0 ? -offset : offset) + " of the " +
                 std::to_string(r.bytes) + "-byte " + r.kind + " zerval.sys handed to " + r.handedTo + " in " + r.during +
                 ", which was the hook's only until that call returned; the write at " + where(eip) +
                 instructionText(eip),
             culpritOf(writer));
        return;
    }
    if (freeStack)
        return;  // stack nobody owns, and no earlier record there
    if (call == nullptr)
        return;
    const uint64_t args = uint64_t{call->frame.esp} + 4, argsEnd = args + call->callee.argBytes;
    if (end <= call->frame.esp || (at >= args && end <= argsEnd))
        return;  // its own frame, or its own arguments
    std::string what = moduleName(writer) + " wrote " + std::to_string(size) + " bytes outside what zerval.sys handed to " +
                       call->name + ": ";
    if (call->recordBytes != 0) {
        const int64_t offset = static_cast<int64_t>(at) - call->record;
        const int64_t past = static_cast<int64_t>(at) - (int64_t{call->record} + call->recordBytes);
        what += "at offset " + std::string(offset < 0 ? "-" : "+") + std::to_string(offset < 0 ? -offset : offset) +
                " of the " + std::to_string(call->recordBytes) + "-byte " +
                RecordKind(call->callee.hook) + " (" +
                (offset < 0 ? std::to_string(-offset) + " bytes before its start"
                            : past <= 0 ? std::string("right after its end") : std::to_string(past) + " bytes past its end") +
                ")";
    } else if (at < args) {
        what += "over its return address";
    } else {
        what += "at " + pe::Hex(address) + " in its caller's stack frame, " + std::to_string(at - argsEnd) +
                " bytes above its arguments";
    }
    fail(what + "; the write at " + where(eip) + instructionText(eip), culpritOf(writer));
}

} // namespace emu
