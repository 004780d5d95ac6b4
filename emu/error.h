// What the emulator throws.  A malformed file stays the PE reader's
// pe::BadImage; everything the machine refuses or finds is one of these, with
// a message of one printable line.
#ifndef ZERVAL_EMU_ERROR_H
#define ZERVAL_EMU_ERROR_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace emu {

// The machine cannot do what it was asked: an image its loader will not load
// (not an i386 native driver, beyond its limits, importing what nothing
// provides), a call to a stub address nothing is bound to, or a failure of
// the emulator engine itself.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An image imports a routine that no loaded image exports and the
// simulation does not serve: the loader refuses it, naming the image.
struct ImportRefused : Error {
    ImportRefused(const std::string &what, std::string importer) : Error(what), importer(std::move(importer)) {}
    std::string importer;  // the module name of the image that imports it
};

// A call into the image that broke the rules: a fault, an unbalanced stack,
// a clobbered register, a write outside what a hook was handed.  The message
// names the entry, and where another loaded image's code broke the rule, that
// image and where in it.
struct Fault : std::runtime_error {
    explicit Fault(const std::string &what, std::string culprit = {})
        : std::runtime_error(what), culprit(std::move(culprit))
    {
    }
    // The module name of the neighbour image whose code broke the rule
    // ("kelv.sys"); empty when it was the module's own.
    std::string culprit;
    // For a bad memory access: the guest address it touched.
    std::optional<uint32_t> address;
};

} // namespace emu

#endif
