// The catalogue zerval.sys ships, typed here from its documentation rather
// than taken from the module's source: 62 labels in four runs of one depth
// each, and 16 rates.  A row's width and height are those its label spells;
// Reserved and Disabled are 0.
#ifndef ZERVAL_TESTS_SHIPPED_CATALOGUE_H
#define ZERVAL_TESTS_SHIPPED_CATALOGUE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zerval.h"

namespace shipped {

struct Run {
    uint16_t bitsPerPixel;
    std::vector<const char *> labels;
};

inline const std::vector<Run> &Runs()
{
    static const std::vector<Run> runs = {
        {8, {"640X480X256", "320X200X256", "320X240X256", "512X384X256", "640X400X256", "640X432X256",
             "720X480X256", "720X576X256", "864X480X256", "800X514X256", "800X600X256", "1024X600X256",
             "1024X768X256", "1280X960X256", "1280X1024X256", "1440X960X256", "1600X1200X256"}},
        {16, {"320X200X65K", "320X240X65K", "512X384X65K", "640X400X65K", "640X432X65K", "640X480X65K",
              "720X480X65K", "720X576X65K", "864X480X65K", "800X514X65K", "800X600X65K", "1024X600X65K",
              "1024X768X65K", "1280X960X65K", "1280X1024X65K", "1440X960X65K", "1600X1200X65K"}},
        {24, {"320X200X16M", "320X240X16M", "512X384X16M", "640X400X16M", "640X480X16M", "720X480X16M",
              "720X576X16M", "864X480X16M", "800X600X16M", "1024X600X16M", "1024X768X16M", "1280X1024X16M",
              "1600X1200X16M"}},
        {32, {"320X200X16M", "320X240X16M", "512X384X16M", "640X400X16M", "640X432X16M", "640X480X16M",
              "720X480X16M", "720X576X16M", "864X480X16M", "800X514X16M", "800X600X16M", "1024X600X16M",
              "1024X768X16M", "1280X1024X16M", "1600X1200X16M"}},
    };
    return runs;
}

inline const std::vector<uint32_t> &Rates()
{
    static const std::vector<uint32_t> rates = {44, 48, 56, 60, 65, 70, 72, 75, 80, 85, 100, 110, 120, 140, 160, 200};
    return rates;
}

// The 62 rows, as the display driver reads them.
inline std::vector<ModeTableEntry> Rows()
{
    std::vector<ModeTableEntry> rows;
    for (const Run &run : Runs())
        for (const char *label : run.labels) {
            ModeTableEntry row{};
            std::memcpy(row.Name, label, std::strlen(label));  // labels are shorter than Name: NUL-padded
            char *end = nullptr;
            row.Width = static_cast<uint16_t>(std::strtoul(label, &end, 10));
            row.Height = static_cast<uint16_t>(std::strtoul(end + 1, nullptr, 10));
            row.BitsPerPixel = run.bitsPerPixel;
            rows.push_back(row);
        }
    return rows;
}

} // namespace shipped

#endif
