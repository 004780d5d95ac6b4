// The second backend: the built zerval.sys running under the emulator.  Every
// entry is a stdcall into the image; records and result bytes travel through
// the caller's page of guest memory.
#include "build_products.h"
#include "entry_irql.h"
#include "exported_data.h"
#include "image_backend.h"
#include "machine.h"

#include <algorithm>
#include <optional>

namespace {

constexpr uint32_t kResultByte = emu::Machine::kCallerData;
constexpr uint32_t kRecord = emu::Machine::kCallerData + 0x100;

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
        if (resultByte != nullptr)
            machine_.write(kResultByte, resultByte, 1);
        const uint32_t r = call(kAttachExport, {context, param, modeParam, attachParam,
                                                            resultByte != nullptr ? kResultByte : 0});
        if (resultByte != nullptr)
            machine_.read(kResultByte, resultByte, 1);
        return static_cast<uint8_t>(r);
    }
    void vValidateMode(VIDEO_MODE_INFORMATION *mode, uint32_t flags) override
    {
        if (mode != nullptr)
            machine_.write(kRecord, mode, sizeof *mode);
        call(decorated::vValidateMode, {mode != nullptr ? kRecord : 0, flags});
        if (mode != nullptr)
            machine_.read(kRecord, mode, sizeof *mode);
    }
    uint32_t SetMode(const VIDEO_MODE_INFORMATION *mode, uint32_t option) override
    {
        if (mode != nullptr)
            machine_.write(kRecord, mode, sizeof *mode);
        return call(decorated::SetMode, {mode != nullptr ? kRecord : 0, option});
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
