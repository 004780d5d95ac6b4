// An image's line table: the source lines that have code, the function each
// belongs to, and the line of any instruction, from the image's own debug
// information as LLVM reads it (the DWARF in a mingw-w64 image, the PDB
// beside an MSVC-dialect one).  What a coverage report maps the addresses
// that ran to, and how it knows the lines that never ran.
#ifndef ZERVAL_EMU_LINE_TABLE_H
#define ZERVAL_EMU_LINE_TABLE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace emu {

struct LineRow {
    uint32_t rva = 0;          // where the row's code begins
    std::string file;          // the source file, as absolute as the debug information allows
    uint32_t line = 0;
    std::string function;      // the function the code belongs to (the outermost, past inlining); may be empty
    std::string functionFile;  // where that function is defined
    uint32_t functionLine = 0;
    uint32_t functionRva = 0;  // its entry
};

class LineTable {
public:
    // The line table of the image at `path`: empty when it has no debug
    // information (or is not an image LLVM can read).
    explicit LineTable(const std::string &path);
    ~LineTable();
    LineTable(const LineTable &) = delete;
    LineTable &operator=(const LineTable &) = delete;

    // Every row, by RVA.
    const std::vector<LineRow> &rows() const { return rows_; }
    // The line of the instruction at `rva`, as its row gives it; nothing for
    // code without a line (a linker's thunk, code built without -g).
    std::optional<LineRow> at(uint32_t rva) const;

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
    std::vector<LineRow> rows_;
};

} // namespace emu

#endif
