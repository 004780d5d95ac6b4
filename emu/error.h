// What the emulator throws.  A malformed file stays the PE reader's
// pe::BadImage; everything the machine refuses or finds is one of these, with
// a message of one printable line.
#ifndef ZERVAL_EMU_ERROR_H
#define ZERVAL_EMU_ERROR_H

#include <stdexcept>

namespace emu {

// The machine cannot do what it was asked: an image its loader will not load
// (not an i386 native driver, beyond its limits, importing what nothing
// provides), a call to a stub address nothing is bound to, or a failure of
// the emulator engine itself.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A call into the image that broke the rules: a fault, an unbalanced stack,
// a clobbered register.  The message names the entry.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace emu

#endif
