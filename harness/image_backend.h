// The image backend's extras: running a given image, and reaching the machine
// for its per-call figures.
#ifndef ZERVAL_HARNESS_IMAGE_BACKEND_H
#define ZERVAL_HARNESS_IMAGE_BACKEND_H

#include <memory>
#include <string>

#include "decorated_names.h"
#include "machine.h"
#include "module_under_test.h"
#include "pe_image.h"

// The module's attach entry, as the image exports it.
constexpr const char *kAttachExport = decorated::lDllAttach;

// The build makes the image twice from the same sources, in the GNU dialect
// (mingw-w64 gcc, ld) and in the MSVC dialect (clang-cl, lld-link).
enum class ImageDialect { Gnu, Msvc };
constexpr ImageDialect kImageDialects[] = {ImageDialect::Gnu, ImageDialect::Msvc};
std::string DialectName(ImageDialect dialect);  // "gnu", "msvc"
std::string BuiltImagePath(ImageDialect dialect);
const pe::Image &BuiltImage(ImageDialect dialect);
// The GNU one.
const pe::Image &DefaultImage();
std::unique_ptr<ModuleUnderTest> MakeImageModule(ImageDialect dialect);
std::unique_ptr<ModuleUnderTest> MakeImageModule(const pe::Image &image);
// The same with real images next to it (sibling drivers, a display driver);
// what they do is theirs, the simulated adapter answers only where no image
// stands in.
std::unique_ptr<ModuleUnderTest> MakeImageModule(const pe::Image &image, std::vector<emu::Neighbour> neighbours);
// From now on every entry called through `module` runs at `irql`, or at the
// highest IRQL zerval.h allows that entry if that is lower (entry_irql.h).
// Nothing for the host backend.
void RunAt(ModuleUnderTest &module, emu::Irql irql);
// The emulator behind an image-backed module; null for the host backend.
emu::Machine *MachineOf(ModuleUnderTest &module);

#endif
