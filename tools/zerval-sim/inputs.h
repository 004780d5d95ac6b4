// The files zerval-sim reads, each read with a bound: at most kLargestInput
// bytes (what the simulation loads), taken from the file in pieces so that
// nothing larger is ever held; "-" is standard input (once a run).  A file
// that cannot be read, is a folder or is larger is one ToolError naming it.
#ifndef ZERVAL_SIM_TOOL_INPUTS_H
#define ZERVAL_SIM_TOOL_INPUTS_H

#include <cstdint>
#include <string>

#include "edid.h"
#include "linker.h"
#include "options.h"
#include "profile.h"

constexpr uint64_t kLargestInput = emu::kLargestImage;

// The file's bytes.
std::string ReadInput(const std::string &path);
// A path as messages name it: "standard input" for "-".
std::string Shown(const std::string &path);

edid::Edid ReadEdid(const std::string &path);
// The profile the inputs name (the built-in default without one), with the
// monitor of the EDID it or --edid names.
sim::Profile LoadProfile(const Inputs &inputs);

#endif
