// Where code of a loaded image lies in its sources, from the image's own
// debug information as LLVM's symbolizer reads it: the DWARF a mingw-w64
// build leaves in the image, or the PDB an MSVC-dialect build writes beside
// it.  An image without debug information has no source lines, and a fault
// or trace line about it keeps its section, RVA and export.
#ifndef ZERVAL_EMU_SOURCE_LINES_H
#define ZERVAL_EMU_SOURCE_LINES_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace emu {

class SourceLines {
public:
    SourceLines();
    ~SourceLines();
    SourceLines(const SourceLines &) = delete;
    SourceLines &operator=(const SourceLines &) = delete;

    // "KelvQueryMode at services_driver.c:76": the function and the source
    // file's name and line of the instruction at `rva` in the image read from
    // `path`, whose PE header puts it at `imageBase`; empty when its debug
    // information does not name both (or it has none).  Each image is read
    // once, each answer kept.
    std::string at(const std::string &path, uint32_t imageBase, uint32_t rva) const;

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
    mutable std::map<std::pair<std::string, uint32_t>, std::string> answers_;
};

} // namespace emu

#endif
