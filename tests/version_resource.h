// The version resource of a PE image, read on the judging side from the
// resource section's own layout (the RT_VERSION entry, its VS_VERSIONINFO
// tree: the fixed part and every StringFileInfo string), independently of
// the PE reader's own version strings.
#ifndef ZERVAL_TESTS_VERSION_RESOURCE_H
#define ZERVAL_TESTS_VERSION_RESOURCE_H

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

#include "pe_image.h"

struct BadVersionResource : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct VersionResource {
    std::array<uint16_t, 4> fileVersion{};     // FILEVERSION a,b,c,d
    std::array<uint16_t, 4> productVersion{};  // PRODUCTVERSION a,b,c,d
    uint32_t fileOs = 0;
    uint32_t fileType = 0;
    uint32_t fileSubtype = 0;
    std::map<std::string, std::string> strings;  // every StringTable's, by name
};

// Throws BadVersionResource naming what is missing or out of bounds.
VersionResource ReadVersionResource(const pe::Image &image);

#endif
