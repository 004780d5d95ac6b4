// What ties an image to its PDB, read on the judging side: the image's
// CodeView record (debug directory entry of type 2: "RSDS", GUID, age, PDB
// name) and, in the PDB (an MSF 7.00 file), the GUID and age of its info
// stream (stream 1) and the age of its DBI stream (stream 3).  A debugger
// or a symbol store takes a PDB for an image only when all of them agree.
#ifndef ZERVAL_TESTS_PDB_SIGNATURE_H
#define ZERVAL_TESTS_PDB_SIGNATURE_H

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "pe_image.h"

struct BadSignature : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Guid = std::array<uint8_t, 16>;

struct CodeViewRecord {
    Guid guid{};
    uint32_t age = 0;
    std::string pdbName;
};

struct PdbSignature {
    Guid guid{};
    uint32_t age = 0;     // info stream
    uint32_t dbiAge = 0;  // DBI stream
};

// The image's TimeDateStamp (COFF file header), which a symbol store files
// the image under with SizeOfImage.
uint32_t TimeDateStamp(const pe::Image &image);

// Throw BadSignature naming what is missing or out of bounds.
CodeViewRecord ReadCodeView(const pe::Image &image);
PdbSignature ReadPdbSignature(const std::string &path);

#endif
