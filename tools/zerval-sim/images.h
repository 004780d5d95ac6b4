// The images a run loads: zerval.sys (the build's, or --image) and the real
// neighbours the inputs name, read and parsed.  Whether an image can be
// loaded is the emulator's one check (emu::CheckLoadable, made by the
// machine for zerval.sys, and for a neighbour before its role is judged, so
// that a program of another kind is named as such); a wrong checksum is only
// a warning.
#ifndef ZERVAL_SIM_TOOL_IMAGES_H
#define ZERVAL_SIM_TOOL_IMAGES_H

#include <string>
#include <vector>

#include "linker.h"
#include "options.h"
#include "pe_image.h"

// The image the inputs name, or the build's.
std::string ImagePath(const Inputs &inputs);
// The same as the output names it: relative to the working folder where it
// lies below it.
std::string ImageShown(const Inputs &inputs);

// The image, parsed.
pe::Image LoadImage(const std::string &path);
// The warning a wrong checksum gives (empty when it is right): for once the
// image has loaded.
std::string ChecksumWarning(const std::string &path, const pe::Image &image);
// The real neighbour images the inputs name, each held to its role.
std::vector<emu::Neighbour> LoadNeighbours(const Inputs &inputs, const pe::Image &zerval);
// A neighbour's fault as one line that names its file and role.
std::string NeighbourFault(const Inputs &inputs, const emu::Fault &fault);
// The file name of the display driver the inputs name ("zprobe.sys").
std::string DisplayName(const Inputs &inputs);
// The file the inputs give for an image by its module name ("kelv.sys": the
// --services path); zerval.sys's for any other.
std::string PathOfModule(const Inputs &inputs, const std::string &module);
// The same as given ("-": standard input), for reading it again.
std::string FileOfModule(const Inputs &inputs, const std::string &module);

#endif
