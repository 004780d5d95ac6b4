#include "coverage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "inputs.h"
#include "tool_error.h"

Coverage::Coverage(emu::Machine &machine) : machine_(machine)
{
    machine_.setInstructionSink([this](uint32_t address) { ++ran_[address]; });
}

Coverage::~Coverage() { machine_.setInstructionSink({}); }

std::string LcovRecords(const emu::LineTable &table, const LineCounts &lines,
                        const std::function<uint64_t(uint32_t)> &ranAt)
{
    struct Function {
        uint32_t line = 0;
        uint32_t rva = 0;
    };
    struct File {
        std::map<uint32_t, uint64_t> lines;            // line -> count
        std::map<std::string, Function> functions;     // by name
    };
    std::map<std::string, File> files;
    for (const auto &[line, count] : lines)
        files[line.first].lines[line.second] = count;
    for (const emu::LineRow &row : table.rows()) {
        files[row.file].lines.emplace(row.line, 0);  // a line with code that never ran
        if (!row.function.empty()) {
            Function &f = files[row.functionFile].functions[row.function];
            f.rva = row.functionRva;
            if (row.functionLine != 0)
                f.line = row.functionLine;
            else if (row.rva == row.functionRva || f.line == 0)
                f.line = row.line;  // no declared line: where its code begins
        }
    }
    std::string out;
    for (const auto &[name, file] : files) {
        out += "TN:\nSF:" + name + "\n";
        size_t hit = 0;
        for (const auto &[function, f] : file.functions)
            out += "FN:" + std::to_string(f.line) + "," + function + "\n";
        for (const auto &[function, f] : file.functions) {
            const uint64_t n = ranAt(f.rva);
            hit += n != 0;
            out += "FNDA:" + std::to_string(n) + "," + function + "\n";
        }
        out += "FNF:" + std::to_string(file.functions.size()) + "\nFNH:" + std::to_string(hit) + "\n";
        hit = 0;
        for (const auto &[line, count] : file.lines) {
            hit += count != 0;
            out += "DA:" + std::to_string(line) + "," + std::to_string(count) + "\n";
        }
        out += "LF:" + std::to_string(file.lines.size()) + "\nLH:" + std::to_string(hit) + "\nend_of_record\n";
    }
    return out;
}

void Coverage::write(const std::string &file) const
{
    std::string text;
    for (const emu::LoadedImage &image : machine_.loadedImages()) {
        if (image.path.empty())
            continue;  // the module, or an image read from standard input
        const emu::LineTable table(image.path);
        if (table.rows().empty()) {
            Warn("--coverage: " + Shown(image.path) +
                 " has no debug information, so no lines to count (build it with -g; in the MSVC dialect with /Zi "
                 "and /DEBUG, its PDB beside it)");
            continue;
        }
        // Each instruction that ran, on its line (code without a line, a
        // linker's thunk, counts nowhere).
        LineCounts lines;
        for (const auto &[address, times] : ran_)
            if (image.contains(address))
                if (const auto row = table.at(address - image.base)) {
                    uint64_t &n = lines[{row->file, row->line}];
                    n = std::max(n, times);
                }
        text += LcovRecords(table, lines, [&](uint32_t rva) {
            const auto n = ran_.find(image.base + rva);
            return n == ran_.end() ? uint64_t{0} : n->second;
        });
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw ToolError("--coverage " + file + ": cannot write it (" + std::strerror(errno) + ")");
}
