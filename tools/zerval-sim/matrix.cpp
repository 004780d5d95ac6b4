#include "matrix.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "mode_list_rules.h"
#include "zerval.h"
#include "zerval_hooks.h"

namespace {

enum class Answer { Refused, OtherRate, Accepted };

struct Probe {
    sim::Query in;
    Answer answer;
};

// The first probes (flag 2) of the last attach, in order, and the published
// records.
struct LastAttach {
    std::vector<Probe> probes;
    std::vector<VIDEO_MODE_INFORMATION> records;
};

const Probe *FindProbe(const LastAttach &a, const ModeTableEntry &row, uint16_t rate)
{
    for (const Probe &p : a.probes)
        if (p.in.bitsPerPixel == row.BitsPerPixel && p.in.width == row.Width && p.in.height == row.Height &&
            p.in.refresh == rate)
            return &p;
    return nullptr;
}

const VIDEO_MODE_INFORMATION *FindRecord(const LastAttach &a, const ModeTableEntry &row, uint16_t rate)
{
    for (size_t i = ZERVAL_LEADING_RECORDS; i < a.records.size(); ++i) {
        const auto &r = a.records[i];
        if (r.BitsPerPlane == row.BitsPerPixel && r.VisScreenWidth == row.Width && r.VisScreenHeight == row.Height &&
            r.Frequency == (rate & 0xFFu))
            return &r;
    }
    return nullptr;
}

const char *Cell(const LastAttach &a, const ModeTableEntry &row, uint16_t rate)
{
    if (rules::SkippedAtItsDepth(row))
        return "s";
    if (rules::Disabled(row))
        return "d";
    if (rules::OnlyAt60Hz(row) && rate != 60)
        return "6";
    const Probe *p = FindProbe(a, row, rate);
    if (p == nullptr)
        return ".";
    if (p->answer == Answer::Refused)
        return "x";
    if (p->answer == Answer::OtherRate)
        return "~";
    const VIDEO_MODE_INFORMATION *r = FindRecord(a, row, rate);
    if (r == nullptr)
        return "-";
    return r->Length == ZERVAL_MODE_USABLE ? "#" : "o";
}

} // namespace

void PrintMatrix(ModuleUnderTest &m, CallMark attachStart)
{
    LastAttach a;
    for (const sim::CallRecord &c : ServicesCallsSince(m, attachStart)) {
        if (c.callee == sim::Callee::QueryMode && c.in.flags == ZERVAL_QUERY_ENUMERATE) {
            const Answer answer = !rules::Accepted(c)                    ? Answer::Refused
                                  : !rules::AnsweredAt(c, c.in.refresh) ? Answer::OtherRate
                                                                        : Answer::Accepted;
            a.probes.push_back({c.in, answer});
        }
    }
    a.records = m.published();

    const uint32_t rowCount = std::min<uint32_t>(m.u32("modeTableSize"), ZERVAL_MODE_TABLE_ROWS);
    const uint32_t rateCount = std::min<uint32_t>(m.u32("freqTableSize"), ZERVAL_FREQUENCY_TABLE_ENTRIES);
    std::vector<uint16_t> rates;
    for (uint32_t i = 0; i < rateCount; ++i)
        rates.push_back(static_cast<uint16_t>(m.rate(i)));
    std::vector<ModeTableEntry> rows;
    std::vector<uint16_t> depths;
    for (uint32_t i = 0; i < rowCount; ++i) {
        rows.push_back(m.row(i));
        if (std::find(depths.begin(), depths.end(), rows.back().BitsPerPixel) == depths.end())
            depths.push_back(rows.back().BitsPerPixel);
    }
    for (uint16_t depth : depths) {
        std::printf("\n%-2u bits per pixel  ", depth);
        for (uint16_t rate : rates)
            std::printf("%4u", rate);
        std::printf("\n");
        for (const ModeTableEntry &row : rows) {
            if (row.BitsPerPixel != depth)
                continue;
            char res[24];
            std::snprintf(res, sizeof res, "%ux%u", row.Width, row.Height);
            std::printf("  %-17s", res);
            for (uint16_t rate : rates)
                std::printf("%4s", Cell(a, row, rate));
            std::printf("\n");
        }
    }
    std::printf("\n# usable   o published, not usable   x refused   ~ answered at another rate\n"
                "s row skipped at this depth   d row disabled   6 probed at 60 Hz only   . not probed\n"
                "- accepted, no list published (pool request refused)\n");
}
