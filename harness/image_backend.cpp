// The second backend: the built zerval.sys running under the emulator.  Every
// entry is a stdcall into the image; records and result bytes travel in
// blocks of guest memory of their own, one per call (CallerBlock).
#include "build_products.h"
#include "caller_bytes.h"
#include "entry_irql.h"
#include "exported_data.h"
#include "image_backend.h"
#include "machine.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace {

constexpr uint32_t kPageBytes = 0x1000;

// What the display driver hands the module by address, for one call: a block
// of its own that ends against an unmapped page, to the byte, so that a write
// past its end faults at once, naming the entry; the bytes below it in its
// page keep the pool's fill, and a change there is a fault found when the
// call returns (below that page lies another guard page).  The block is
// unmapped after the call, so a write through a kept address faults too.
class CallerBlock {
public:
    CallerBlock(emu::Machine &machine, const void *content, uint32_t size)
        : machine_(machine), size_(size), address_(machine.allocateForImage(size, true))
    {
        machine_.write(address_, content, size);
        entered_.resize(kPageBytes);
        machine_.read(pageStart(), entered_.data(), kPageBytes);
    }
    ~CallerBlock() { machine_.freeForImage(address_); }
    CallerBlock(const CallerBlock &) = delete;
    CallerBlock &operator=(const CallerBlock &) = delete;

    uint32_t address() const { return address_; }
    void copyOut(void *out) const { machine_.read(address_, out, size_); }
    // Throws emu::Fault naming `entry` when it wrote below the block in its
    // page, or with `readOnly` into the block.
    void check(const std::string &entry, const char *what, bool readOnly = false) const
    {
        std::vector<uint8_t> now(kPageBytes);
        machine_.read(pageStart(), now.data(), kPageBytes);
        const uint32_t below = address_ - pageStart();
        const std::string change = caller::FirstChange(std::vector<uint8_t>(entered_.begin(), entered_.begin() + below),
                                                       std::vector<uint8_t>(now.begin(), now.begin() + below),
                                                       -static_cast<long>(below));
        if (!change.empty())
            throw emu::Fault(entry + ": wrote outside " + caller::Block(what, size_) + " it was handed: " + change);
        if (readOnly) {
            const std::string inside = caller::FirstChange(
                std::vector<uint8_t>(entered_.begin() + below, entered_.end()),
                std::vector<uint8_t>(now.begin() + below, now.end()), 0);
            if (!inside.empty())
                throw emu::Fault(entry + ": wrote into " + caller::Block(what, size_) + " it was handed to read only: " +
                                 inside);
        }
    }

    // The emulator's fault for an access at an unmapped address, with what
    // lay there when it is the page just past this block; other faults as
    // they are.
    emu::Fault explained(const emu::Fault &fault, const char *what) const
    {
        if (!fault.address || *fault.address < uint64_t{address_} + size_ ||
            *fault.address >= uint64_t{address_} + size_ + kPageBytes)
            return fault;
        emu::Fault past(std::string(fault.what()) + " (past the end of " + caller::Block(what, size_) + " it was handed)",
                        fault.culprit);
        past.address = fault.address;
        return past;
    }

private:
    uint32_t pageStart() const { return address_ & ~(kPageBytes - 1); }

    emu::Machine &machine_;
    uint32_t size_;
    uint32_t address_;
    std::vector<uint8_t> entered_;  // its page as the module was entered
};

class ImageModule : public ModuleUnderTest {
public:
    explicit ImageModule(const pe::Image &image, std::vector<emu::Neighbour> neighbours = {})
        : machine_(image, adapter, log, pool, std::move(neighbours))
    {
    }

    emu::Machine &machine() { return machine_; }
    void runAt(emu::Irql irql) { irql_ = irql; }

    uint32_t DriverEntry() override { return call("DriverEntry", {0, 0}); }
    uint8_t lDllAttach(uint32_t context, uint32_t param, uint32_t modeParam, uint32_t attachParam,
                       uint8_t *resultByte) override
    {
        std::optional<CallerBlock> block;
        if (resultByte != nullptr)
            block.emplace(machine_, resultByte, 1);
        result_ = block ? block->address() : 0;
        uint32_t r;
        try {
            r = call(kAttachExport, {context, param, modeParam, attachParam, result_});
        } catch (const emu::Fault &f) {
            result_ = 0;
            if (block)
                throw block->explained(f, "result byte");
            throw;
        } catch (...) {
            result_ = 0;
            throw;
        }
        result_ = 0;
        if (block) {
            block->check(kAttachExport, "result byte");
            block->copyOut(resultByte);
        }
        return static_cast<uint8_t>(r);
    }
    void vValidateMode(VIDEO_MODE_INFORMATION *mode, uint32_t flags) override
    {
        std::optional<CallerBlock> block;
        if (mode != nullptr)
            block.emplace(machine_, mode, sizeof *mode);
        try {
            call(decorated::vValidateMode, {block ? block->address() : 0, flags});
        } catch (const emu::Fault &f) {
            if (block)
                throw block->explained(f, "mode record");
            throw;
        }
        if (block) {
            block->check(decorated::vValidateMode, "mode record");
            block->copyOut(mode);
        }
    }
    uint32_t SetMode(const VIDEO_MODE_INFORMATION *mode, uint32_t option) override
    {
        std::optional<CallerBlock> block;
        if (mode != nullptr)
            block.emplace(machine_, mode, sizeof *mode);
        uint32_t r;
        try {
            r = call(decorated::SetMode, {block ? block->address() : 0, option});
        } catch (const emu::Fault &f) {
            if (block)
                throw block->explained(f, "mode record");
            throw;
        }
        if (block)
            block->check(decorated::SetMode, "mode record", true);
        return r;
    }
    std::optional<uint8_t> resultByteNow() override
    {
        if (result_ == 0)
            return std::nullopt;
        uint8_t b = 0;
        machine_.read(result_, &b, 1);
        return b;
    }
    uint8_t Orvalen_Function(uint32_t value) override
    {
        return static_cast<uint8_t>(call(decorated::Orvalen_Function, {value}));
    }
    uint8_t MeltoBiosDll(uint32_t a, uint32_t b, uint32_t c) override
    {
        return static_cast<uint8_t>(call(decorated::MeltoBiosDll, {a, b, c}));
    }
    uint32_t GetFreeFramebufferSize() override { return call(decorated::GetFreeFramebufferSize, {}); }
    uint32_t BiosDllSetInitialValue() override { return call(decorated::BiosDllSetInitialValue, {}); }

    void readData(const std::string &name, uint32_t offset, void *out, uint32_t size) override
    {
        machine_.read(locate(name, offset, size), out, size);
    }
    void writeData(const std::string &name, uint32_t offset, const void *in, uint32_t size) override
    {
        machine_.write(locate(name, offset, size), in, size);
    }
    uint64_t publishedAddress() override { return machine_.readU32(machine_.exportAddress("pModeInfoFromBIOSDLL")); }
    std::vector<VIDEO_MODE_INFORMATION> readList(uint64_t address, uint32_t count) override
    {
        if (address == 0)
            return {};
        std::vector<VIDEO_MODE_INFORMATION> out(count);
        machine_.read(static_cast<uint32_t>(address), out.data(),
                      static_cast<uint32_t>(out.size() * sizeof(VIDEO_MODE_INFORMATION)));
        return out;
    }

private:
    // Each entry at the IRQL asked for, or the highest zerval.h allows it.
    uint32_t call(const std::string &name, const std::vector<uint32_t> &args)
    {
        if (irql_)
            machine_.setIrql(std::min(*irql_, HighestIrqlFor(name)));
        return machine_.call(name, args);
    }

    uint32_t locate(const std::string &name, uint32_t offset, uint32_t size) const
    {
        return machine_.exportAddress(kExportedData[LocateExportedData(name, offset, size)].name) + offset;
    }

    emu::Machine machine_;
    std::optional<emu::Irql> irql_;  // none: the machine's own
    uint32_t result_ = 0;            // the result byte's address while lDllAttach runs with one
};

} // namespace

const pe::Image &BuiltImage(ImageDialect dialect)
{
    // Each read once, when first asked for.
    if (dialect == ImageDialect::Gnu) {
        static const pe::Image gnu = pe::Load(BuiltImagePath(ImageDialect::Gnu));
        return gnu;
    }
    static const pe::Image msvc = pe::Load(BuiltImagePath(ImageDialect::Msvc));
    return msvc;
}

std::string BuiltImagePath(ImageDialect dialect)
{
    return products::Existing(dialect == ImageDialect::Gnu ? products::kImageGnu : products::kImageMsvc);
}

std::string DialectName(ImageDialect dialect) { return dialect == ImageDialect::Gnu ? "gnu" : "msvc"; }

const pe::Image &DefaultImage() { return BuiltImage(ImageDialect::Gnu); }

std::unique_ptr<ModuleUnderTest> MakeImageModule(ImageDialect dialect)
{
    return std::make_unique<ImageModule>(BuiltImage(dialect));
}

std::unique_ptr<ModuleUnderTest> MakeImageModule(const pe::Image &image)
{
    return std::make_unique<ImageModule>(image);
}

std::unique_ptr<ModuleUnderTest> MakeImageModule(const pe::Image &image, std::vector<emu::Neighbour> neighbours)
{
    return std::make_unique<ImageModule>(image, std::move(neighbours));
}

void RunAt(ModuleUnderTest &module, emu::Irql irql)
{
    if (auto *image = dynamic_cast<ImageModule *>(&module))
        image->runAt(irql);
}

emu::Machine *MachineOf(ModuleUnderTest &module)
{
    auto *image = dynamic_cast<ImageModule *>(&module);
    return image != nullptr ? &image->machine() : nullptr;
}
