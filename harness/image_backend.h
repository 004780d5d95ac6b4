// The image backend's extras: running a given image, and reaching the machine
// for its per-call figures.
#ifndef ZERVAL_HARNESS_IMAGE_BACKEND_H
#define ZERVAL_HARNESS_IMAGE_BACKEND_H

#include <memory>

#include "machine.h"
#include "module_under_test.h"
#include "pe_image.h"

// The image the build made.
const pe::Image &DefaultImage();
std::unique_ptr<ModuleUnderTest> MakeImageModule(const pe::Image &image);
// The same with real images next to it (sibling drivers, a display driver);
// what they do is theirs, the simulated adapter answers only where no image
// stands in.
std::unique_ptr<ModuleUnderTest> MakeImageModule(const pe::Image &image, std::vector<emu::Neighbour> neighbours);
// The emulator behind an image-backed module; null for the host backend.
emu::Machine *MachineOf(ModuleUnderTest &module);

#endif
