#include "line_table.h"

#include <llvm/DebugInfo/DIContext.h>
#include <llvm/DebugInfo/DWARF/DWARFContext.h>
#include <llvm/DebugInfo/PDB/PDB.h>
#include <llvm/DebugInfo/PDB/PDBContext.h>
#include <llvm/Object/Binary.h>
#include <llvm/Object/COFF.h>
#include <llvm/Support/Error.h>

#include <map>

namespace emu {

namespace {

using LineKinds = llvm::DILineInfoSpecifier;
constexpr auto kAnySection = llvm::object::SectionedAddress::UndefSection;

// The image's debug information: the PDB its debug directory names (looked
// for beside the image first), else the DWARF sections in the image itself.
std::unique_ptr<llvm::DIContext> DebugInfoOf(const llvm::object::COFFObjectFile &coff, const std::string &path)
{
    const llvm::codeview::DebugInfo *pdbInfo = nullptr;
    llvm::StringRef pdbName;
    if (!coff.getDebugPDBInfo(pdbInfo, pdbName) && pdbInfo != nullptr && !pdbName.empty()) {
        std::unique_ptr<llvm::pdb::IPDBSession> session;
        if (llvm::Error e = llvm::pdb::loadDataForEXE(llvm::pdb::PDB_ReaderType::Native, path, session)) {
            llvm::consumeError(std::move(e));
            return nullptr;
        }
        return std::make_unique<llvm::pdb::PDBContext>(coff, std::move(session));
    }
    return llvm::DWARFContext::create(coff);
}

// The ranges of code the debug information covers: for DWARF each compile
// unit's (a lookup over a range reads the line table of the unit its start
// lies in), for a PDB each executable section.
std::vector<std::pair<uint64_t, uint64_t>> CodeRanges(llvm::DIContext &context,
                                                       const llvm::object::COFFObjectFile &coff)
{
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    if (auto *dwarf = llvm::dyn_cast<llvm::DWARFContext>(&context)) {
        for (const auto &unit : dwarf->compile_units()) {
            auto unitRanges = unit->collectAddressRanges();
            if (!unitRanges) {
                llvm::consumeError(unitRanges.takeError());
                continue;
            }
            for (const llvm::DWARFAddressRange &r : *unitRanges)
                if (r.HighPC > r.LowPC)
                    ranges.emplace_back(r.LowPC, r.HighPC - r.LowPC);
        }
        return ranges;
    }
    for (const llvm::object::SectionRef &section : coff.sections())
        if (section.isText() && section.getSize() != 0)
            ranges.emplace_back(section.getAddress(), section.getSize());
    return ranges;
}

// A name the debug information gave (the readers leave an unknown one
// empty or "<invalid>").
bool Known(const std::string &name) { return !name.empty() && name != llvm::DILineInfo::BadString; }

} // namespace

struct LineTable::Reader {
    llvm::object::OwningBinary<llvm::object::Binary> binary;
    std::unique_ptr<llvm::DIContext> context;
    uint64_t imageBase = 0;
    const LineKinds kinds{LineKinds::FileLineInfoKind::AbsoluteFilePath, LineKinds::FunctionNameKind::ShortName};

    // The rows of [start, start + size).  LLVM 14's own PDB reader answers a
    // range only once a lookup of one address has read where the object
    // files' code lies, and then with the rows of the object file the
    // range starts in: past the last of them, the next address with a line
    // of its own starts the next object file's.
    llvm::DILineInfoTable rangeRows(uint64_t start, uint64_t size) const
    {
        if (!llvm::isa<llvm::pdb::PDBContext>(context.get()))
            return context->getLineInfoForAddressRange({start, kAnySection}, size, kinds);
        llvm::DILineInfoTable rows;
        const uint64_t end = start + size;
        for (uint64_t at = start; at < end;) {
            const llvm::DILineInfo line = context->getLineInfoForAddress({at, kAnySection}, kinds);
            llvm::DILineInfoTable more;
            if (line.Line != 0 && Known(line.FileName))
                more = context->getLineInfoForAddressRange({at, kAnySection}, end - at, kinds);
            if (more.empty()) {
                ++at;
                continue;
            }
            for (auto &row : more)
                if (row.first >= at)
                    rows.push_back(std::move(row));
            const llvm::DILineInfo last = rows.back().second;
            for (at = rows.back().first + 1; at < end; ++at) {
                const llvm::DILineInfo here = context->getLineInfoForAddress({at, kAnySection}, kinds);
                if (here.Line != last.Line || here.FileName != last.FileName)
                    break;
            }
        }
        return rows;
    }

    // The row of the instruction at `address` (the image's preferred
    // address), its function past any inlining: the last frame of the chain.
    std::optional<LineRow> rowAt(uint64_t address) const
    {
        const llvm::DIInliningInfo frames = context->getInliningInfoForAddress({address, kAnySection}, kinds);
        if (frames.getNumberOfFrames() == 0 || address < imageBase || address - imageBase > UINT32_MAX)
            return std::nullopt;
        const llvm::DILineInfo &inner = frames.getFrame(0);
        const llvm::DILineInfo &outer = frames.getFrame(frames.getNumberOfFrames() - 1);
        if (inner.Line == 0 || !Known(inner.FileName))
            return std::nullopt;
        LineRow row;
        row.rva = static_cast<uint32_t>(address - imageBase);
        row.file = inner.FileName;
        row.line = inner.Line;
        if (outer.FunctionName != llvm::DILineInfo::BadString) {
            row.function = outer.FunctionName;
            row.functionFile = Known(outer.StartFileName) ? outer.StartFileName
                               : Known(outer.FileName)    ? outer.FileName
                                                          : inner.FileName;
            row.functionLine = outer.StartLine;
            if (outer.StartAddress && *outer.StartAddress >= imageBase)
                row.functionRva = static_cast<uint32_t>(*outer.StartAddress - imageBase);
        }
        return row;
    }
};

LineTable::LineTable(const std::string &path)
{
    auto binary = llvm::object::createBinary(path);
    if (!binary) {
        llvm::consumeError(binary.takeError());
        return;
    }
    const auto *coff = llvm::dyn_cast<llvm::object::COFFObjectFile>(binary->getBinary());
    if (coff == nullptr)
        return;
    auto reader = std::make_unique<Reader>();
    reader->context = DebugInfoOf(*coff, path);
    if (reader->context == nullptr)
        return;
    reader->imageBase = coff->getImageBase();
    const std::vector<std::pair<uint64_t, uint64_t>> ranges = CodeRanges(*reader->context, *coff);
    reader->binary = std::move(*binary);
    reader_ = std::move(reader);

    std::map<uint64_t, LineRow> rows;  // by address: ranges may overlap
    for (const auto &[start, size] : ranges)
        for (const auto &entry : reader_->rangeRows(start, size))
            if (auto row = reader_->rowAt(entry.first))
                rows[entry.first] = *row;
    // A function whose debug information gives no entry: its first row.
    std::map<std::pair<std::string, std::string>, uint32_t> entries;
    for (const auto &[address, row] : rows)
        if (!row.function.empty())
            entries.emplace(std::make_pair(row.functionFile, row.function), row.rva);
    for (auto &[address, row] : rows) {
        if (!row.function.empty() && row.functionRva == 0)
            row.functionRva = entries[{row.functionFile, row.function}];
        rows_.push_back(row);
    }
}

LineTable::~LineTable() = default;

std::optional<LineRow> LineTable::at(uint32_t rva) const
{
    if (reader_ == nullptr)
        return std::nullopt;
    return reader_->rowAt(reader_->imageBase + rva);
}

} // namespace emu
