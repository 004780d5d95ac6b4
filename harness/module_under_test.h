// The module as its neighbours see it: entries to call, exported data to read
// and write, a programmable adapter behind it, and the calls it made.  Every
// behaviour test is written against this interface and runs on each backend.
#ifndef ZERVAL_HARNESS_MODULE_UNDER_TEST_H
#define ZERVAL_HARNESS_MODULE_UNDER_TEST_H

#include <cstdint>
#include <ostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter.h"
#include "call_log.h"
#include "pool_ledger.h"
#include "zerval.h"

class ModuleUnderTest {
public:
    ModuleUnderTest() : adapter(log) {}
    virtual ~ModuleUnderTest() = default;
    ModuleUnderTest(const ModuleUnderTest &) = delete;
    ModuleUnderTest &operator=(const ModuleUnderTest &) = delete;

    sim::CallLog log;
    sim::PoolLedger pool;
    sim::Adapter adapter;

    // Entries.  A null pointer argument is passed to the module as NULL.
    virtual uint32_t DriverEntry() = 0;
    virtual uint8_t lDllAttach(uint32_t context, uint32_t param, uint32_t modeParam, uint32_t attachParam,
                               uint8_t *resultByte) = 0;
    virtual void vValidateMode(VIDEO_MODE_INFORMATION *mode, uint32_t flags) = 0;
    virtual uint32_t SetMode(const VIDEO_MODE_INFORMATION *mode, uint32_t option) = 0;
    virtual uint8_t Orvalen_Function(uint32_t value) = 0;
    virtual uint8_t MeltoBiosDll(uint32_t a, uint32_t b, uint32_t c) = 0;
    virtual uint32_t GetFreeFramebufferSize() = 0;
    virtual uint32_t BiosDllSetInitialValue() = 0;
    // The byte at pResult as the module sees it now, for a neighbour's hook
    // to read while lDllAttach runs (a sibling driver may learn its address
    // through AttachParam); nothing outside an attach or when pResult is NULL.
    // The byte, and a record handed to vValidateMode or SetMode, lie among
    // bytes of the caller's own: a write beside them is a fault naming the
    // entry (a breach in the log on the host, emu::Fault from an image).
    virtual std::optional<uint8_t> resultByteNow() = 0;

    // Exported data by name.
    virtual void readData(const std::string &name, uint32_t offset, void *out, uint32_t size) = 0;
    virtual void writeData(const std::string &name, uint32_t offset, const void *in, uint32_t size) = 0;
    // The address in pModeInfoFromBIOSDLL (0: none), and the ORVX_NUM_MODES
    // records found there.
    virtual uint64_t publishedAddress() = 0;
    std::vector<VIDEO_MODE_INFORMATION> published() { return readList(publishedAddress(), u32("ORVX_NUM_MODES")); }
    // `count` records at `address` (an array the module published, now or
    // earlier: it never frees one).
    virtual std::vector<VIDEO_MODE_INFORMATION> readList(uint64_t address, uint32_t count) = 0;

    // Conveniences over the above.
    uint8_t attach(uint8_t *resultByte = nullptr) { return lDllAttach(0x11, 0x22, 0x33, 0x44, resultByte); }
    uint32_t u32(const std::string &name)
    {
        uint32_t v = 0;
        readData(name, 0, &v, sizeof v);
        return v;
    }
    void setU32(const std::string &name, uint32_t v) { writeData(name, 0, &v, sizeof v); }
    ModeTableEntry row(uint32_t i)
    {
        ModeTableEntry r;
        readData("modetable", i * sizeof(ModeTableEntry), &r, sizeof r);
        return r;
    }
    void setRow(uint32_t i, const ModeTableEntry &r) { writeData("modetable", i * sizeof(ModeTableEntry), &r, sizeof r); }
    template <typename Edit>
    void editEveryRow(Edit edit)
    {
        for (uint32_t i = 0; i < ZERVAL_MODE_TABLE_ROWS; ++i) {
            ModeTableEntry r = row(i);
            edit(r);
            setRow(i, r);
        }
    }
    uint32_t rate(uint32_t i)
    {
        uint32_t v = 0;
        readData("frequencytable", i * 4, &v, 4);
        return v;
    }
    void setRate(uint32_t i, uint32_t v) { writeData("frequencytable", i * 4, &v, 4); }
};

// The host build; the image built with mingw-w64 (GNU dialect) and the image
// built with clang-cl (MSVC dialect), each under the emulator.
enum class Backend { Host, Image, ImageMsvc };
std::string BackendName(Backend backend);
// Each call gives a module in its load-time state.
std::unique_ptr<ModuleUnderTest> MakeModule(Backend backend);
std::vector<Backend> AvailableBackends();
inline void PrintTo(Backend backend, std::ostream *os) { *os << BackendName(backend); }

#endif
