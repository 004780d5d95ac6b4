// A reader for PE32 images: headers, sections, exports, imports, base
// relocations and the version resource.  Used by the image checks, the
// post-link step and the emulator's loader.
#ifndef ZERVAL_EMU_PE_IMAGE_H
#define ZERVAL_EMU_PE_IMAGE_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

struct BadImage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr uint32_t kScnDiscardable = 0x02000000;
constexpr uint32_t kScnNotPaged = 0x08000000;
constexpr uint32_t kScnExecute = 0x20000000;
constexpr uint32_t kScnRead = 0x40000000;
constexpr uint32_t kScnWrite = 0x80000000;

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kSubsystemNative = 1;

struct Section {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
    uint32_t headerOffset = 0;  // file offset of this section's header
};

struct Export {
    std::string name;
    uint32_t rva = 0;
};

struct Import {
    std::string module;
    std::string name;
    uint32_t iatRva = 0;  // where the loader writes the address
};

struct Image {
    std::vector<uint8_t> bytes;
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t magic = 0;
    uint32_t entryRva = 0;
    uint32_t imageBase = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t checksum = 0;
    uint32_t checksumOffset = 0;  // file offset of the checksum field
    uint16_t subsystem = 0;
    uint16_t dllCharacteristics = 0;
    uint32_t tlsDirectorySize = 0;
    std::vector<Section> sections;
    std::vector<Export> exports;
    std::vector<Import> imports;
    std::vector<uint32_t> relocations;  // RVAs of HIGHLOW fix-ups
    std::map<std::string, std::string> versionStrings;  // StringFileInfo
    uint32_t versionFileType = 0;     // VS_FIXEDFILEINFO dwFileType (3: a driver)
    uint32_t versionFileSubtype = 0;  // dwFileSubtype (VFT2_DRV_*)

    const Section *section(const std::string &name) const;
    // The section an RVA lies in (its virtual or raw size, whichever is
    // larger); null in the headers or past every section.
    const Section *sectionAt(uint32_t rva) const;
    const Export *exported(const std::string &name) const;
    // Bytes at an RVA as the loader would map them (zero past raw data).
    std::vector<uint8_t> read(uint32_t rva, uint32_t size) const;
    uint32_t u32At(uint32_t rva) const;
};

// A name read from an image, fit for a one-line message: anything but
// printable ASCII as \xNN, at most 64 characters.
std::string Printable(const std::string &name);
// A number in a message: 0x and lower-case hex digits.
std::string Hex(uint64_t v);

// Throws BadImage with a one-line reason.
Image Parse(std::vector<uint8_t> bytes);
// The most Load reads: a larger file (or one without end, a device or a
// pipe) is refused after this many bytes and one more.
constexpr uint64_t kLargestFile = 16u << 20;
Image Load(const std::string &path);

// The optional header's checksum as the kernel's loader computes it.
uint32_t ComputeChecksum(const std::vector<uint8_t> &bytes, uint32_t checksumOffset);

} // namespace pe

#endif
