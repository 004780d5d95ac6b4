// The module's exported data that a test or tool reads and writes by name,
// with the bytes each one spans as the display driver sees it.  Both backends
// take this one list; the address of the published array is read through
// ModuleUnderTest::publishedAddress instead, as a pointer's width differs
// between the host build and the image.
#ifndef ZERVAL_HARNESS_EXPORTED_DATA_H
#define ZERVAL_HARNESS_EXPORTED_DATA_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "zerval.h"

struct ExportedData {
    const char *name;
    uint32_t size;
};

inline constexpr ExportedData kExportedData[] = {
    {"modetable", ZERVAL_MODE_TABLE_ROWS * sizeof(ModeTableEntry)},
    {"modeTableSize", sizeof(ULONG)},
    {"frequencytable", ZERVAL_FREQUENCY_TABLE_ENTRIES * sizeof(ULONG)},
    {"freqTableSize", sizeof(ULONG)},
    {"NumModesFromBIOSDLL", sizeof(ULONG)},
    {"ORVX_NUM_MODES", sizeof(ULONG)},
};
inline constexpr size_t kExportedDataCount = sizeof kExportedData / sizeof kExportedData[0];

// The index in kExportedData of `name` when `size` bytes from `offset` lie
// inside it; throws std::out_of_range otherwise.
inline size_t LocateExportedData(const std::string &name, uint32_t offset, uint32_t size)
{
    for (size_t i = 0; i < kExportedDataCount; ++i) {
        const ExportedData &e = kExportedData[i];
        if (name == e.name && offset <= e.size && size <= e.size - offset)
            return i;
    }
    throw std::out_of_range("no exported data " + name + " at that offset");
}

#endif
