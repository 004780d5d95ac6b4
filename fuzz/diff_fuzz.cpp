// Differential libFuzzer target: one input script runs on the host build and
// on the built image under the emulator, and everything the neighbours can
// observe must agree - every entry's result, the published counts and
// records, every call across the boundary with its arguments and record
// bytes, the hook table as the services driver sees it, and the pool's books.
// A divergence, or a fault of the image under the emulator, aborts with both
// sides' first differing line.
//
// The script: how the services driver answers each hook (accept or refuse,
// garbage above BOOLEANs, rewritten query fields), which hooks Attach fills,
// hooks emptied or filled again after a call, edits of the exported tables,
// refused allocations, and calls of every entry.
//
// The image side keeps one loaded machine for the whole run and resets it
// after each input instead of loading again.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "image_backend.h"
#include "module_under_test.h"
#include "query_answer.h"
#include "zerval_hooks.h"

namespace {

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string Hex(const void *data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = static_cast<const uint8_t *>(data)[i];
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Describe(const sim::Query &q)
{
    return Format("{bpp %u, %ux%u, refresh %u, attributes 0x%" PRIx32 ", flags 0x%" PRIx32 "}", q.bitsPerPixel,
                  q.width, q.height, q.refresh, q.attributes, q.flags);
}

// What differs between the builds by nature is written the same way on both
// sides: a pool address becomes the block's place in the ledger (the latest
// allocation at that address), and the hook table's size, 36 bytes in the
// image and wider in the 64-bit host build, one word.
constexpr uint64_t kNotPool = ~0ull;
constexpr uint64_t kTableSize = ~0ull - 1;

struct Sides {
    uint32_t tableBytes;
};

uint64_t PoolOrdinal(const sim::PoolLedger &pool, uint64_t address)
{
    if (address == 0)
        return 0;
    const auto &all = pool.allocations();
    for (size_t i = all.size(); i-- > 0;)
        if (all[i].address == address)
            return i + 1;
    return kNotPool;
}

std::string PoolName(uint64_t ordinal)
{
    return ordinal == 0 ? "NULL" : ordinal == kNotPool ? "not a pool block" : "block #" + std::to_string(ordinal - 1);
}

std::string Size(uint64_t bytes) { return bytes == kTableSize ? std::string("sizeof(DllExt)") : std::to_string(bytes); }

sim::CallRecord Normalised(sim::CallRecord c, const sim::PoolLedger &pool, const Sides &side)
{
    switch (c.callee) {
    case sim::Callee::AllocatePool: c.result = c.result != 0; break;
    case sim::Callee::FreePool: c.args[0] = PoolOrdinal(pool, c.args[0]); break;
    case sim::Callee::ZeroMemory:
        c.args[0] = PoolOrdinal(pool, c.args[0]);
        if (c.args[1] == side.tableBytes)
            c.args[1] = kTableSize;
        break;
    case sim::Callee::Attach:
        if (c.table.size == side.tableBytes)
            c.table.size = 0xFFFFFFFFu;
        break;
    default: break;
    }
    return c;
}

bool Same(const sim::CallRecord &a, const sim::CallRecord &b)
{
    return a.callee == b.callee && a.via == b.via && a.args == b.args && a.result == b.result && a.in == b.in &&
           a.out == b.out && a.table.size == b.table.size && a.table.filled == b.table.filled &&
           a.table.tvControlIsRmx == b.table.tvControlIsRmx && a.bufferZero == b.bufferZero && a.raw == b.raw;
}

std::string DescribeCall(const sim::CallRecord &c)
{
    std::string s = sim::CalleeName(c.callee);
    if (c.via == sim::Entry::Replacement)
        s += " (replacement)";
    switch (c.callee) {
    case sim::Callee::AllocatePool:
        return s + Format("(type %" PRIu64 ", %" PRIu64 " bytes, tag 0x%" PRIx64 ") = ", c.args[0], c.args[1],
                          c.args[2]) + (c.result != 0 ? "granted" : "NULL");
    case sim::Callee::FreePool: return s + "(" + PoolName(c.args[0]) + ")";
    case sim::Callee::ZeroMemory: return s + "(" + PoolName(c.args[0]) + ", " + Size(c.args[1]) + " bytes)";
    case sim::Callee::QueryMode:
        return s + "(" + Hex(c.raw.data(), c.raw.size()) + Format(", %" PRIu64 ") = 0x%" PRIx64 ", ", c.args[1],
                                                                   c.result) + Describe(c.out);
    case sim::Callee::SetMode:
        return s + "(" + Describe(c.in) + Format(", %" PRIu64 ", %" PRIu64 ") = 0x%" PRIx64, c.args[1], c.args[2],
                                                 c.result);
    case sim::Callee::Attach:
        return s + Format("(0x%" PRIx64 ", 0x%" PRIx64 ", table size ", c.args[0], c.args[1]) +
               (c.table.size == 0xFFFFFFFFu ? std::string("sizeof(DllExt)") : std::to_string(c.table.size)) +
               Format(" filled 0x%02x tv %d, 0x%" PRIx64 ")", c.table.filled, c.table.tvControlIsRmx ? 1 : 0,
                      c.args[3]);
    case sim::Callee::Init: return s + Format("(buffer %s) = 0x%" PRIx64, c.bufferZero ? "zero" : "not zero", c.result);
    default:
        return s + Format("(0x%" PRIx64 ", 0x%" PRIx64 ", 0x%" PRIx64 ") = 0x%" PRIx64, c.args[0], c.args[1],
                          c.args[2], c.result);
    }
}

// One line of what the neighbours saw: a step and its result, a call across
// the boundary, or the published records' bytes.  Calls and records are kept
// raw and written out only when the builds disagree.
struct Entry {
    enum Kind { Text, Call, Records } kind = Text;
    std::string text;  // Text: the line; Records: the array's bytes
    sim::CallRecord call{};

    bool operator==(const Entry &o) const
    {
        return kind == o.kind && text == o.text && (kind != Call || Same(call, o.call));
    }
    std::string show() const
    {
        switch (kind) {
        case Call: return "  call " + DescribeCall(call);
        case Records: return Format("  published records: %zu bytes", text.size());
        default: return text;
        }
    }
};

class Transcript {
public:
    Transcript() { entries_.reserve(1 << 14); }
    void push_back(std::string line) { entries_.push_back(Entry{Entry::Text, std::move(line), {}}); }
    void call(const sim::CallRecord &c) { entries_.push_back(Entry{Entry::Call, {}, c}); }
    void records(std::string bytes) { entries_.push_back(Entry{Entry::Records, std::move(bytes), {}}); }
    const std::vector<Entry> &entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};

// What the neighbours see after a step: the calls it made, the counts (and,
// after an attach, the records) published, the table as the services driver
// holds it, the books.
void Observe(ModuleUnderTest &m, const Sides &side, Transcript &t, bool records)
{
    for (const sim::CallRecord &c : m.log.calls())
        t.call(Normalised(c, m.pool, side));
    m.log.clear();

    const uint32_t found = m.u32("NumModesFromBIOSDLL");
    const uint32_t total = m.u32("ORVX_NUM_MODES");
    const uint64_t address = m.publishedAddress();
    t.push_back(Format("  published: NumModesFromBIOSDLL %u, ORVX_NUM_MODES %u, array %s", found, total,
                       PoolName(PoolOrdinal(m.pool, address)).c_str()));
    if (address != 0 && records) {
        const std::vector<VIDEO_MODE_INFORMATION> list = m.readList(address, total);
        t.records(std::string(reinterpret_cast<const char *>(list.data()), list.size() * sizeof list[0]));
    }
    if (const sim::HookTable *table = m.adapter.table()) {
        const sim::TableView v = table->view();
        t.push_back("  table: size " + Size(v.size == side.tableBytes ? kTableSize : v.size) +
                    Format(", filled 0x%02x, tv %d", v.filled, v.tvControlIsRmx ? 1 : 0));
    }
    std::string books = "  pool:";
    for (const sim::Allocation &a : m.pool.allocations())
        books += Format(" [%" PRIu64 " bytes %s%s]", a.size, a.address != 0 ? "granted" : "refused",
                        a.live ? " live" : "");
    for (const std::string &f : m.pool.faults())
        books += " fault: " + f;
    t.push_back(books);
}

void EditTables(FuzzedDataProvider &in, ModuleUnderTest &m, Transcript &t)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
        const uint32_t i = in.ConsumeIntegralInRange<uint32_t>(0, ZERVAL_MODE_TABLE_ROWS - 1);
        ModeTableEntry r = m.row(i);
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: r.Width = in.PickValueInArray({uint16_t{640}, uint16_t{720}, uint16_t{800}, uint16_t{1024},
                                               in.ConsumeIntegral<uint16_t>()}); break;
        case 1: r.Height = in.PickValueInArray({uint16_t{480}, uint16_t{600}, uint16_t{768},
                                                in.ConsumeIntegral<uint16_t>()}); break;
        case 2: r.BitsPerPixel = in.PickValueInArray({uint16_t{8}, uint16_t{16}, uint16_t{24}, uint16_t{32},
                                                      in.ConsumeIntegral<uint16_t>()}); break;
        case 3: r.Reserved = in.ConsumeIntegral<uint16_t>(); break;
        default: r.Disabled = in.ConsumeIntegral<uint16_t>(); break;
        }
        m.setRow(i, r);
        t.push_back("edit row " + std::to_string(i) + ": " + Hex(&r, sizeof r));
        break;
    }
    case 1: {
        const uint32_t i = in.ConsumeIntegralInRange<uint32_t>(0, ZERVAL_FREQUENCY_TABLE_ENTRIES - 1);
        const uint32_t v = in.PickValueInArray({60u, 316u, 0x1003Cu, 0u, 255u, 256u, 0xFFFFFFFFu,
                                                in.ConsumeIntegral<uint32_t>()});
        m.setRate(i, v);
        t.push_back(Format("edit rate %u: %u", i, v));
        break;
    }
    default: {
        const char *name = in.ConsumeBool() ? "modeTableSize" : "freqTableSize";
        // Around both capacities.
        constexpr uint32_t rows = ZERVAL_MODE_TABLE_ROWS, rates = ZERVAL_FREQUENCY_TABLE_ENTRIES;
        const uint32_t v = in.PickValueInArray({0u, 1u, rates - 1, rates, rates + 1, rows - 1, rows, rows + 1,
                                                0xFFFFFFFFu, in.ConsumeIntegralInRange<uint32_t>(0, 70)});
        m.setU32(name, v);
        t.push_back(Format("edit %s: %u", name, v));
        break;
    }
    }
}

VIDEO_MODE_INFORMATION SomeRecord(FuzzedDataProvider &in, ModuleUnderTest &m)
{
    const uint64_t address = m.publishedAddress();
    const uint32_t total = m.u32("ORVX_NUM_MODES");
    if (address != 0 && total != 0 && in.ConsumeBool())
        return m.readList(address, total)[in.ConsumeIntegralInRange<uint32_t>(0, total - 1)];
    VIDEO_MODE_INFORMATION r{};
    r.Length = in.ConsumeIntegral<uint32_t>();
    r.VisScreenWidth = in.ConsumeIntegral<uint32_t>();
    r.VisScreenHeight = in.ConsumeIntegral<uint32_t>();
    r.BitsPerPlane = in.ConsumeIntegral<uint32_t>();
    r.Frequency = in.PickValueInArray({0u, 1u, 60u, 0x100u, 0x101u, 0x13Cu, 0x0100003Cu, 188u,
                                       in.ConsumeIntegral<uint32_t>()});
    r.DriverSpecificAttributeFlags = in.ConsumeIntegral<uint32_t>();
    return r;
}

// Runs the script on one module, recording what the neighbours see.
Transcript Run(ModuleUnderTest &m, const Sides &side, const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    Transcript t;

    m.adapter.profile.hooks = in.ConsumeBool() ? sim::kAllServiceHooks
                                               : in.ConsumeIntegralInRange<uint8_t>(0, sim::kAllServiceHooks);
    m.adapter.onInit = [&in](const sim::InitBuffer &) { return in.ConsumeBool() ? 0xFF00u : 0x01u; };
    m.adapter.onQueryMode = [&in](sim::Query &q) { return AnswerQuery(in, q); };
    m.adapter.onSetMode = [&in](const sim::Query &, uint32_t) { return in.ConsumeBool() ? 0x100u : 1u; };
    m.adapter.onPassThrough = [&in](uint32_t, uint32_t, uint32_t) {
        return in.PickValueInArray({0, -1, -2, 0x100, INT32_MIN, in.ConsumeIntegral<int32_t>()});
    };
    m.adapter.onFunction = [&in](uint32_t) { return in.ConsumeIntegral<uint32_t>(); };
    m.adapter.onGetFreeFramebufferSize = [&in] { return in.ConsumeIntegral<uint32_t>(); };
    m.adapter.onTvControl = [&in](uint32_t, uint32_t, uint32_t) { return in.ConsumeIntegral<uint32_t>(); };
    // Now and then the services driver empties a hook, or fills it with its
    // original or a replacement function, right after answering.
    enum class Rewrite { None, Empty, Original, Replacement };
    Rewrite rewrite = Rewrite::None;
    sim::Hook rewritten = sim::Hook::Init;
    m.adapter.afterHook = [&rewrite, &rewritten](sim::HookTable &table, sim::Callee) {
        switch (rewrite) {
        case Rewrite::Empty: table.clear(rewritten); break;
        case Rewrite::Original: table.fill(rewritten, sim::Entry::Original); break;
        case Rewrite::Replacement: table.fill(rewritten, sim::Entry::Replacement); break;
        case Rewrite::None: break;
        }
        rewrite = Rewrite::None;
    };

    int attaches = 0;
    for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
        const int kind = in.ConsumeIntegralInRange<int>(0, 9);
        switch (kind) {
        case 0:
        case 1: {
            if (++attaches > 4)
                break;
            uint8_t result = in.ConsumeIntegral<uint8_t>();
            const uint8_t ok = m.lDllAttach(0x11, 0x22, 0x33, 0x44, in.ConsumeBool() ? &result : nullptr);
            t.push_back(Format("lDllAttach = %u, result byte %u", ok, result));
            break;
        }
        case 2: EditTables(in, m, t); break;
        case 3: {
            const uint32_t nth = in.ConsumeIntegralInRange<uint32_t>(1, 3);
            m.pool.failRequest(nth);
            t.push_back(Format("refuse pool request %u from now", nth));
            break;
        }
        case 4: {
            VIDEO_MODE_INFORMATION r = SomeRecord(in, m);
            const bool null = in.ConsumeIntegralInRange<int>(0, 15) == 0;
            const uint32_t flags = in.ConsumeIntegral<uint32_t>();
            m.vValidateMode(null ? nullptr : &r, flags);
            t.push_back(Format("vValidateMode(%s, 0x%x): ", null ? "NULL" : "record", flags) + Hex(&r, sizeof r));
            break;
        }
        case 5: {
            const VIDEO_MODE_INFORMATION r = SomeRecord(in, m);
            const bool null = in.ConsumeIntegralInRange<int>(0, 15) == 0;
            const uint32_t option = in.ConsumeIntegral<uint32_t>();
            const uint32_t status = m.SetMode(null ? nullptr : &r, option);
            t.push_back(Format("SetMode(%s, 0x%x) = %u", null ? "NULL" : Hex(&r, sizeof r).c_str(), option, status));
            break;
        }
        case 6: {
            const uint32_t a = in.ConsumeIntegral<uint32_t>(), b = in.ConsumeIntegral<uint32_t>();
            const uint32_t c = in.ConsumeIntegral<uint32_t>();
            switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: t.push_back(Format("Orvalen_Function(0x%x) = %u", a, m.Orvalen_Function(a))); break;
            case 1: t.push_back(Format("MeltoBiosDll(0x%x, 0x%x, 0x%x) = %u", a, b, c, m.MeltoBiosDll(a, b, c))); break;
            case 2: t.push_back(Format("GetFreeFramebufferSize = 0x%x", m.GetFreeFramebufferSize())); break;
            case 3: t.push_back(Format("BiosDllSetInitialValue = %u", m.BiosDllSetInitialValue())); break;
            default: t.push_back(Format("DriverEntry = 0x%x", m.DriverEntry())); break;
            }
            break;
        }
        case 7: {
            rewritten = static_cast<sim::Hook>(in.ConsumeIntegralInRange<int>(0, sim::kHookCount - 1));
            rewrite = in.PickValueInArray({Rewrite::Empty, Rewrite::Original, Rewrite::Replacement});
            static const char *const kHow[] = {"", "empty", "fill with the original", "fill with a replacement"};
            t.push_back(Format("after the next hook call: %s %s", kHow[static_cast<int>(rewrite)],
                               sim::HookName(rewritten)));
            break;
        }
        default:
            m.adapter.profile.hooks = in.ConsumeIntegralInRange<uint8_t>(0, sim::kAllServiceHooks);
            t.push_back(Format("Attach fills hooks 0x%02x", m.adapter.profile.hooks));
            break;
        }
        Observe(m, side, t, kind <= 1);
    }
    // The exported tables, as the module left them.
    ModeTableEntry rows[ZERVAL_MODE_TABLE_ROWS];
    m.readData("modetable", 0, rows, sizeof rows);
    uint32_t rates[ZERVAL_FREQUENCY_TABLE_ENTRIES];
    m.readData("frequencytable", 0, rates, sizeof rates);
    t.push_back("tables: " + Hex(rows, sizeof rows) + " " + Hex(rates, sizeof rates) +
                Format(" %u %u", m.u32("modeTableSize"), m.u32("freqTableSize")));
    return t;
}

// The image side: loaded once, and put back as loaded after every input, so
// that what an input allocates (pool blocks the engine mapped, the books) is
// freed again before it ends: LeakSanitizer then has nothing to look at.
ModuleUnderTest &ImageSide()
{
    static const std::unique_ptr<ModuleUnderTest> module = MakeImageModule(DefaultImage());
    return *module;
}

void ResetImageSide()
{
    ModuleUnderTest &m = ImageSide();
    MachineOf(m)->reset();
    m.log.clear();
    m.pool.clear();
    m.adapter.profile = sim::Profile{};
    m.adapter.forgetTable();
}

[[noreturn]] void Divergence(const Transcript &host, const Transcript &image, size_t at)
{
    const std::vector<Entry> &h = host.entries(), &i = image.entries();
    std::fprintf(stderr, "the host build and the image diverge:\n");
    for (size_t k = at > 8 ? at - 8 : 0; k < at; ++k)
        std::fprintf(stderr, "    %s\n", h[k].show().c_str());
    if (at < h.size() && at < i.size() && h[at].kind == Entry::Records && i[at].kind == Entry::Records) {
        const size_t record = sizeof(VIDEO_MODE_INFORMATION);
        for (size_t k = 0; k * record < std::min(h[at].text.size(), i[at].text.size()); ++k)
            if (h[at].text.compare(k * record, record, i[at].text, k * record, record) != 0) {
                std::fprintf(stderr, "published record %zu:\nhost:  %s\nimage: %s\n", k,
                             Hex(h[at].text.data() + k * record, record).c_str(),
                             Hex(i[at].text.data() + k * record, record).c_str());
                std::abort();
            }
    }
    std::fprintf(stderr, "host:  %s\nimage: %s\n", at < h.size() ? h[at].show().c_str() : "(nothing more)",
                 at < i.size() ? i[at].show().c_str() : "(nothing more)");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Transcript host;
    {
        std::unique_ptr<ModuleUnderTest> m = MakeModule(Backend::Host);
        host = Run(*m, Sides{sizeof(DllExt)}, data, size);
        // The host doubles see a record handed outside the caller's frame; the
        // emulator stops the image instead.
        if (!m->log.breaches().empty()) {
            std::fprintf(stderr, "the host build broke the contract: %s\n", m->log.breaches().front().c_str());
            std::abort();
        }
    }
    Transcript image;
    try {
        image = Run(ImageSide(), Sides{36}, data, size);
        ResetImageSide();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "the image faulted under the emulator: %s\n", e.what());
        std::abort();
    }
    const std::vector<Entry> &h = host.entries(), &i = image.entries();
    const size_t n = std::min(h.size(), i.size());
    for (size_t k = 0; k < n; ++k)
        if (!(h[k] == i[k]))
            Divergence(host, image, k);
    if (h.size() != i.size())
        Divergence(host, image, n);
    return 0;
}
