#include "kernel_files.h"

#include <algorithm>
#include <cctype>

namespace emu {

namespace {

// CreateDisposition values and IO_STATUS_BLOCK.Information results.
enum : uint32_t { kSupersede, kOpen, kCreate, kOpenIf, kOverwrite, kOverwriteIf };
enum : uint32_t { kSuperseded, kOpened, kCreated, kOverwritten };

bool SamePath(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

KernelFiles::Created KernelFiles::create(const std::string &path, uint32_t disposition)
{
    if (disposition > kOverwriteIf)
        return {kInvalidParameter};
    if (path.empty())
        return {kNameInvalid};
    if (open_.size() >= kMostHandles)
        return {kTooManyOpenFiles};
    auto found = std::find_if(files_.begin(), files_.end(), [&](const KernelFile &f) { return SamePath(f.path, path); });
    uint32_t information = kOpened;
    if (found == files_.end()) {
        if (disposition == kOpen || disposition == kOverwrite)
            return {kNameNotFound};
        if (files_.size() >= kMostFiles)
            return {kInsufficientResources};
        files_.push_back(KernelFile{path, {}});
        found = files_.end() - 1;
        information = kCreated;
    } else if (disposition == kCreate) {
        return {kNameCollision};
    } else if (disposition == kSupersede || disposition == kOverwrite || disposition == kOverwriteIf) {
        total_ -= found->bytes.size();
        found->bytes.clear();
        information = disposition == kSupersede ? kSuperseded : kOverwritten;
    }
    const uint32_t handle = nextHandle_;
    nextHandle_ += 4;
    open_[handle] = Open{static_cast<size_t>(found - files_.begin()), 0};
    return {kSuccess, handle, information};
}

uint32_t KernelFiles::write(uint32_t handle, const std::vector<uint8_t> &bytes, std::optional<uint64_t> offset)
{
    const auto it = open_.find(handle);
    if (it == open_.end())
        return kInvalidHandle;
    Open &o = it->second;
    std::vector<uint8_t> &file = files_[o.file].bytes;
    const uint64_t at = offset == kEndOfFile ? file.size() : offset.value_or(o.position);
    if (at > kLargestFile || bytes.size() > kLargestFile - at)
        return kDiskFull;
    const uint64_t end = at + bytes.size();
    if (end > file.size() && total_ + (end - file.size()) > kLargestTotal)
        return kDiskFull;
    if (file.size() < end) {
        total_ += end - file.size();
        file.resize(static_cast<size_t>(end), 0);
    }
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    o.position = at + bytes.size();
    return kSuccess;
}

uint32_t KernelFiles::close(uint32_t handle) { return open_.erase(handle) != 0 ? kSuccess : kInvalidHandle; }

} // namespace emu
