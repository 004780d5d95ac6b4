#include "attach_check.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "mode_list_rules.h"
#include "zerval_hooks.h"

namespace {

std::string Describe(const sim::Query &q)
{
    std::ostringstream s;
    s << q.width << "x" << q.height << "x" << q.bitsPerPixel << "@" << q.refresh << " attr=0x" << std::hex
      << q.attributes << " flags=0x" << q.flags;
    return s.str();
}

bool SameWrittenFields(const VIDEO_MODE_INFORMATION &a, const VIDEO_MODE_INFORMATION &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

AttachScene BeforeAttach(ModuleUnderTest &m)
{
    AttachScene s;
    s.rows.resize(ZERVAL_MODE_TABLE_ROWS);
    m.readData("modetable", 0, s.rows.data(), static_cast<uint32_t>(s.rows.size() * sizeof(ModeTableEntry)));
    s.rowCount = m.u32("modeTableSize");
    s.rates.resize(ZERVAL_FREQUENCY_TABLE_ENTRIES);
    m.readData("frequencytable", 0, s.rates.data(), static_cast<uint32_t>(s.rates.size() * sizeof s.rates[0]));
    s.rateCount = m.u32("freqTableSize");
    s.listAddress = m.publishedAddress();
    s.listCount = m.u32("ORVX_NUM_MODES");
    s.list = m.readList(s.listAddress, s.listCount);
    s.logStart = m.log.calls().size();
    s.allocationStart = m.pool.allocations().size();
    return s;
}

std::vector<std::string> CheckAttach(ModuleUnderTest &m, const AttachScene &scene, uint8_t result,
                                     PublishedArrays &arrays)
{
    if (scene.listAddress != 0)
        arrays.addresses.insert(scene.listAddress);
    std::vector<std::string> problems;
    auto fail = [&problems](const std::string &what) { problems.push_back(what); };

    const std::vector<sim::CallRecord> &log = m.log.calls();
    std::vector<sim::CallRecord> queries;
    for (size_t i = scene.logStart; i < log.size(); ++i) {
        if (log[i].callee != sim::Callee::QueryMode)
            continue;
        // Each probe reads pfnQueryMode from the table when it is made.
        if (const sim::SlotChange *slot = m.log.slotBefore(sim::Hook::QueryMode, i)) {
            if (!slot->filled)
                fail("probe " + std::to_string(queries.size()) + " called pfnQueryMode through an emptied slot");
            else if (slot->entry != log[i].via)
                fail("probe " + std::to_string(queries.size()) + " did not call the pfnQueryMode in the table");
        }
        queries.push_back(log[i]);
    }
    const std::vector<sim::Allocation> &pool = m.pool.allocations();
    const std::vector<sim::Allocation> made(pool.begin() + static_cast<std::ptrdiff_t>(scene.allocationStart),
                                            pool.end());
    for (const std::string &f : m.pool.faults())
        fail("pool fault: " + f);
    for (const std::string &b : m.log.breaches())
        fail("contract breach: " + b);

    const uint32_t numModes = m.u32("NumModesFromBIOSDLL");
    const uint32_t orvx = m.u32("ORVX_NUM_MODES");
    const uint64_t address = m.publishedAddress();

    auto listKept = [&](const char *why) {
        if (address != scene.listAddress || orvx != scene.listCount) {
            fail(std::string(why) + ": the published list changed");
            return;
        }
        const std::vector<VIDEO_MODE_INFORMATION> now = m.readList(address, orvx);
        if (!std::equal(scene.list.begin(), scene.list.end(), now.begin(), now.end(), SameWrittenFields))
            fail(std::string(why) + ": the earlier list's records changed");
    };

    bool built = false;
    std::vector<VIDEO_MODE_INFORMATION> expected;
    if (result == 0) {
        if (!queries.empty() || !made.empty())
            fail("a failed attach probed or allocated");
        listKept("failed attach");
    } else if (made.empty()) {
        fail("a successful attach asked for no candidate list");
    } else {
        const uint32_t rows = std::min<uint32_t>(scene.rowCount, ZERVAL_MODE_TABLE_ROWS);
        const uint32_t rates = std::min<uint32_t>(scene.rateCount, ZERVAL_FREQUENCY_TABLE_ENTRIES);
        const uint64_t candidateBytes = uint64_t{std::max<uint32_t>(rows * rates, 1)} * sizeof(ModeQuery);
        if (made[0].size != candidateBytes)
            fail("candidate list of " + std::to_string(made[0].size) + " bytes, want " +
                 std::to_string(candidateBytes));
        if (made[0].address == 0) {
            if (made.size() != 1 || !queries.empty())
                fail("went on after the candidate list was refused");
            if (numModes != 0)
                fail("candidate list refused, yet NumModesFromBIOSDLL is " + std::to_string(numModes));
            listKept("candidate list refused");
        } else {
            // The probes, against the tables as they stood.  The module reads
            // pfnQueryMode at every probe, and an empty slot is a refusal: if
            // the services driver emptied it, the probes stop where it did.
            const bool queryHookEmpty =
                m.adapter.table() != nullptr && !m.adapter.table()->view().has(sim::Hook::QueryMode);
            size_t q = 0;
            for (uint32_t r = 0; r < rows && problems.empty(); ++r) {
                const ModeTableEntry &row = scene.rows[r];
                for (uint32_t f = 0; f < rates && problems.empty(); ++f) {
                    const uint16_t rate = static_cast<uint16_t>(scene.rates[f]);
                    if (!rules::Probed(row, rate))
                        continue;
                    sim::Query first{row.BitsPerPixel, row.Width, row.Height, rate, 0, ZERVAL_QUERY_ENUMERATE};
                    if (q >= queries.size() && queryHookEmpty)
                        continue;  // refused
                    // Attributes is not set before the first probe: whatever it holds.
                    if (q < queries.size())
                        first.attributes = queries[q].in.attributes;
                    if (q >= queries.size() || !(queries[q].in == first)) {
                        fail("probe " + std::to_string(q) + ": want " + Describe(first) + ", got " +
                             (q < queries.size() ? Describe(queries[q].in) : std::string("none")));
                        break;
                    }
                    const sim::CallRecord &answer = queries[q++];
                    if (!rules::AnsweredAt(answer, rate))
                        continue;
                    const sim::Query second{row.BitsPerPixel, row.Width, row.Height, rate, answer.out.attributes,
                                            ZERVAL_QUERY_USABLE};
                    bool usable = false;
                    if (q < queries.size() || !queryHookEmpty) {
                        if (q >= queries.size() || !(queries[q].in == second)) {
                            fail("probe " + std::to_string(q) + ": want second probe " + Describe(second) +
                                 ", got " + (q < queries.size() ? Describe(queries[q].in) : std::string("none")));
                            break;
                        }
                        usable = rules::AnsweredAt(queries[q++], rate);
                    }
                    VIDEO_MODE_INFORMATION rec{};
                    rec.Length = usable ? ZERVAL_MODE_USABLE : ZERVAL_MODE_UNUSABLE;
                    rec.VisScreenWidth = answer.out.width;
                    rec.VisScreenHeight = answer.out.height;
                    rec.BitsPerPlane = answer.out.bitsPerPixel;
                    rec.Frequency = answer.out.refresh & 0xFFu;
                    rec.DriverSpecificAttributeFlags = answer.out.attributes >> 16;
                    expected.push_back(rec);
                }
            }
            if (problems.empty() && q != queries.size())
                fail(std::to_string(queries.size() - q) + " probes more than the tables call for");

            const uint32_t n = static_cast<uint32_t>(expected.size());
            if (made.size() != 2) {
                fail(std::to_string(made.size()) + " allocations in a build, want 2");
            } else {
                if (made[0].live)
                    fail("the candidate list was not freed");
                if (made[1].size != uint64_t{n + rules::kLeadingRecords} * sizeof(VIDEO_MODE_INFORMATION))
                    fail("published array of " + std::to_string(made[1].size) + " bytes for " + std::to_string(n) +
                         " modes");
                if (made[1].address == 0) {
                    if (numModes != 0)
                        fail("published array refused, yet NumModesFromBIOSDLL is " + std::to_string(numModes));
                    listKept("published array refused");
                } else {
                    built = true;
                    if (numModes != n)
                        fail("NumModesFromBIOSDLL " + std::to_string(numModes) + ", want " + std::to_string(n));
                    if (orvx != numModes + rules::kLeadingRecords)
                        fail("ORVX_NUM_MODES " + std::to_string(orvx) + " is not NumModesFromBIOSDLL + " +
                             std::to_string(rules::kLeadingRecords));
                    if (address != made[1].address)
                        fail("pModeInfoFromBIOSDLL is not the array just allocated");
                }
            }
        }
    }

    if (built && problems.empty()) {
        arrays.addresses.insert(address);
        const std::vector<VIDEO_MODE_INFORMATION> list = m.readList(address, orvx);
        const VIDEO_MODE_INFORMATION zero{};
        for (uint32_t k = 0; k < rules::kLeadingRecords; ++k)
            if (!SameWrittenFields(list[k], zero))
                fail("leading record " + std::to_string(k) + " is not zero");
        for (size_t k = 0; k < expected.size(); ++k)
            if (!SameWrittenFields(list[rules::kLeadingRecords + k], expected[k])) {
                fail("record " + std::to_string(rules::kLeadingRecords + k) + " is not the first answer with its mark");
                break;
            }
    }
    for (const sim::Allocation &a : m.pool.live())
        if (!arrays.addresses.count(a.address)) {
            std::ostringstream s;
            s << "leak: " << a.size << " bytes at 0x" << std::hex << a.address << " are live and not a published array";
            fail(s.str());
        }
    return problems;
}

std::vector<std::string> AttachAndCheck(ModuleUnderTest &m, PublishedArrays &arrays)
{
    const AttachScene scene = BeforeAttach(m);
    const uint8_t result = m.attach();
    return CheckAttach(m, scene, result, arrays);
}

std::string Join(const std::vector<std::string> &problems)
{
    std::string s;
    for (const std::string &p : problems)
        s += "\n  " + p;
    return s;
}
