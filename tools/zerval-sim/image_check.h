// What zerval-sim asks of an image before the emulator maps anything: what
// the emulator's loader asks (emu::CheckLoadable, which throws emu::Error),
// and a right checksum, whose lack is only a warning, returned as a line.
#ifndef ZERVAL_SIM_TOOL_IMAGE_CHECK_H
#define ZERVAL_SIM_TOOL_IMAGE_CHECK_H

#include <string>
#include <vector>

#include "pe_image.h"

std::vector<std::string> CheckImage(const pe::Image &image);

#endif
