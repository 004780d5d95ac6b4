// The first backend: the module's sources linked into the test, with the host
// doubles as kernel and sibling drivers.
#include <cstring>

#include "caller_bytes.h"
#include "driver_entry.h"
#include "exported_data.h"
#include "host_doubles.h"
#include "host_backend.h"
#include "host_reset.h"
#include "module_under_test.h"

namespace {

// Where each entry of kExportedData lies in the host build, in the list's
// order, with the size of the object there.
struct HostData {
    void *address;
    size_t size;
};
constexpr HostData kHostData[] = {
    {modetable, sizeof modetable},
    {&modeTableSize, sizeof modeTableSize},
    {frequencytable, sizeof frequencytable},
    {&freqTableSize, sizeof freqTableSize},
    {&NumModesFromBIOSDLL, sizeof NumModesFromBIOSDLL},
    {&ORVX_NUM_MODES, sizeof ORVX_NUM_MODES},
};
static_assert(sizeof kHostData / sizeof kHostData[0] == kExportedDataCount, "one address per exported datum");
constexpr bool SizesAgree()
{
    for (size_t i = 0; i < kExportedDataCount; ++i)
        if (kHostData[i].size != kExportedData[i].size)
            return false;
    return true;
}
static_assert(SizesAgree(), "each host object is as large as the exported datum it stands for");

class HostModule : public ModuleUnderTest {
public:
    explicit HostModule(const HostEntries &entries) : entries_(entries)
    {
        ZervalResetToLoad();
        // There is one host module: a new one takes the doubles over, and
        // what an earlier one left in the pool goes with its state.
        hostsim::Release();
        hostsim::Bind({&adapter, &log, &pool});
    }
    ~HostModule() override
    {
        if (hostsim::IsBound({&adapter, &log, &pool}))
            hostsim::Release();
    }

    // Each entry is called from this frame: records the module hands to a
    // hook must lie below it.
    uint32_t DriverEntry() override
    {
        const hostsim::EnteredFrom entered(__builtin_frame_address(0));
        return static_cast<uint32_t>(::DriverEntry(nullptr, nullptr));
    }
    // The result byte and the records travel in blocks of their own among
    // fill bytes: what the entry wrote beside them is a breach.
    uint8_t lDllAttach(uint32_t context, uint32_t param, uint32_t modeParam, uint32_t attachParam,
                       uint8_t *resultByte) override
    {
        std::optional<caller::HostBlock> block;
        if (resultByte != nullptr)
            block.emplace(resultByte, 1);
        result_ = block ? &*block : nullptr;
        uint8_t r;
        {
            const hostsim::EnteredFrom entered(__builtin_frame_address(0));
            r = entries_.lDllAttach(context, param, modeParam, attachParam, block ? block->data() : nullptr);
        }
        result_ = nullptr;
        if (block)
            report(*block, "lDllAttach", "result byte", resultByte);
        return r;
    }
    void vValidateMode(VIDEO_MODE_INFORMATION *mode, uint32_t flags) override
    {
        std::optional<caller::HostBlock> block;
        if (mode != nullptr)
            block.emplace(mode, sizeof *mode);
        {
            const hostsim::EnteredFrom entered(__builtin_frame_address(0));
            entries_.vValidateMode(block ? reinterpret_cast<VIDEO_MODE_INFORMATION *>(block->data()) : nullptr, flags);
        }
        if (block)
            report(*block, "vValidateMode", "mode record", mode);
    }
    uint32_t SetMode(const VIDEO_MODE_INFORMATION *mode, uint32_t option) override
    {
        std::optional<caller::HostBlock> block;
        if (mode != nullptr)
            block.emplace(mode, sizeof *mode);
        uint32_t r;
        {
            const hostsim::EnteredFrom entered(__builtin_frame_address(0));
            r = entries_.SetMode(block ? reinterpret_cast<const VIDEO_MODE_INFORMATION *>(block->data()) : nullptr,
                                 option);
        }
        if (block) {
            const std::string breach = block->breach("SetMode", "mode record", true);
            if (!breach.empty())
                log.breach(breach);
        }
        return r;
    }
    std::optional<uint8_t> resultByteNow() override
    {
        if (result_ == nullptr)
            return std::nullopt;
        return *result_->data();
    }
    uint8_t Orvalen_Function(uint32_t value) override
    {
        const hostsim::EnteredFrom entered(__builtin_frame_address(0));
        return ::Orvalen_Function(value);
    }
    uint8_t MeltoBiosDll(uint32_t a, uint32_t b, uint32_t c) override
    {
        const hostsim::EnteredFrom entered(__builtin_frame_address(0));
        return ::MeltoBiosDll(a, b, c);
    }
    uint32_t GetFreeFramebufferSize() override
    {
        const hostsim::EnteredFrom entered(__builtin_frame_address(0));
        return ::GetFreeFramebufferSize();
    }
    uint32_t BiosDllSetInitialValue() override
    {
        const hostsim::EnteredFrom entered(__builtin_frame_address(0));
        return ::BiosDllSetInitialValue();
    }

    void readData(const std::string &name, uint32_t offset, void *out, uint32_t size) override
    {
        std::memcpy(out, locate(name, offset, size), size);
    }
    void writeData(const std::string &name, uint32_t offset, const void *in, uint32_t size) override
    {
        std::memcpy(locate(name, offset, size), in, size);
    }
    uint64_t publishedAddress() override { return reinterpret_cast<uintptr_t>(pModeInfoFromBIOSDLL); }
    std::vector<VIDEO_MODE_INFORMATION> readList(uint64_t address, uint32_t count) override
    {
        if (address == 0)
            return {};
        const auto *list = reinterpret_cast<const VIDEO_MODE_INFORMATION *>(static_cast<uintptr_t>(address));
        return std::vector<VIDEO_MODE_INFORMATION>(list, list + count);
    }

private:
    // Hands the block's content back to the caller, and what the entry wrote
    // beside it to the log.
    void report(const caller::HostBlock &block, const char *entry, const char *what, void *out)
    {
        block.copyOut(out);
        const std::string breach = block.breach(entry, what);
        if (!breach.empty())
            log.breach(breach);
    }

    static uint8_t *locate(const std::string &name, uint32_t offset, uint32_t size)
    {
        return static_cast<uint8_t *>(kHostData[LocateExportedData(name, offset, size)].address) + offset;
    }

    HostEntries entries_;
    caller::HostBlock *result_ = nullptr;  // while lDllAttach runs with a result byte
};

} // namespace

HostEntries ModuleEntries() { return HostEntries{::lDllAttach, ::vValidateMode, ::SetMode}; }

std::unique_ptr<ModuleUnderTest> MakeHostModule(const HostEntries &entries)
{
    return std::make_unique<HostModule>(entries);
}

std::unique_ptr<ModuleUnderTest> MakeHostModule() { return MakeHostModule(ModuleEntries()); }
