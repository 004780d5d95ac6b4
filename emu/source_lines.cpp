#include "source_lines.h"

#include <llvm/DebugInfo/DIContext.h>
#include <llvm/DebugInfo/Symbolize/Symbolize.h>
#include <llvm/Support/Error.h>

namespace emu {

struct SourceLines::Reader {
    llvm::symbolize::LLVMSymbolizer symbolizer{Options()};

    static llvm::symbolize::LLVMSymbolizer::Options Options()
    {
        llvm::symbolize::LLVMSymbolizer::Options o;
        // The function as its source names it, and the file by its name: a
        // fault line stays one short line.
        o.PrintFunctions = llvm::DILineInfoSpecifier::FunctionNameKind::ShortName;
        o.PathStyle = llvm::DILineInfoSpecifier::FileLineInfoKind::BaseNameOnly;
        // Names from the symbol or export table alone come with no line: the
        // export form says as much already.
        o.UseSymbolTable = false;
        return o;
    }
};

SourceLines::SourceLines() : reader_(std::make_unique<Reader>()) {}

SourceLines::~SourceLines() = default;

std::string SourceLines::at(const std::string &path, uint32_t imageBase, uint32_t rva) const
{
    if (path.empty())
        return "";
    const auto key = std::make_pair(path, rva);
    if (const auto known = answers_.find(key); known != answers_.end())
        return known->second;
    std::string answer;
    // The symbolizer takes the address the image's header would load the
    // code at.
    auto info = reader_->symbolizer.symbolizeCode(
        path, llvm::object::SectionedAddress{uint64_t{imageBase} + rva, llvm::object::SectionedAddress::UndefSection});
    if (!info) {
        llvm::consumeError(info.takeError());  // not an image it can read: no source lines
    } else if (info->FunctionName != llvm::DILineInfo::BadString && info->FileName != llvm::DILineInfo::BadString &&
               info->Line != 0) {
        // By its name alone whatever the reader gives (a PDB's path is as
        // the compiler wrote it, in either style).
        const std::string &file = info->FileName;
        answer = info->FunctionName + " at " + file.substr(file.find_last_of("/\\") + 1) + ":" +
                 std::to_string(info->Line);
    }
    answers_.emplace(key, answer);
    return answer;
}

} // namespace emu
