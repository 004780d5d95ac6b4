// What zerval-sim asks of an image before the emulator maps anything: a PE32
// i386 native driver whose size the simulation can hold.  Warnings (a wrong
// checksum) go to the caller as lines; refusals throw pe::BadImage.
#ifndef ZERVAL_SIM_TOOL_IMAGE_CHECK_H
#define ZERVAL_SIM_TOOL_IMAGE_CHECK_H

#include <string>
#include <vector>

#include "pe_image.h"

// The largest SizeOfImage the emulator maps.
constexpr uint32_t kLargestImage = 16u << 20;

std::vector<std::string> CheckImage(const pe::Image &image);

#endif
