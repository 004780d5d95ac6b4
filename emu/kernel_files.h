// The simulated kernel's files: what an image writes through ZwCreateFile,
// ZwWriteFile and ZwClose is kept in memory, never on the host's disk, so
// that a tool can show it (a probe display driver writes its report this
// way).  Paths are the NT names the image gave, compared without regard to
// case; handles are small numbers.  Every result is an NTSTATUS.
#ifndef ZERVAL_EMU_KERNEL_FILES_H
#define ZERVAL_EMU_KERNEL_FILES_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace emu {

struct KernelFile {
    std::string path;  // as the image named it (UTF-16 below 0x80 kept, the rest '?')
    std::vector<uint8_t> bytes;
};

class KernelFiles {
public:
    // The NTSTATUS values the routines answer.
    static constexpr uint32_t kSuccess = 0;
    static constexpr uint32_t kInvalidHandle = 0xC0000008u;
    static constexpr uint32_t kInvalidParameter = 0xC000000Du;
    static constexpr uint32_t kNameInvalid = 0xC0000033u;
    static constexpr uint32_t kNameNotFound = 0xC0000034u;
    static constexpr uint32_t kNameCollision = 0xC0000035u;
    static constexpr uint32_t kDiskFull = 0xC000007Fu;
    static constexpr uint32_t kTooManyOpenFiles = 0xC000011Fu;
    static constexpr uint32_t kInsufficientResources = 0xC000009Au;

    // The most one file holds, all files together, the most files, and the
    // most handles open at once.
    static constexpr uint32_t kLargestFile = 16u << 20;
    static constexpr uint64_t kLargestTotal = 64u << 20;
    static constexpr uint32_t kMostFiles = 256;
    static constexpr uint32_t kMostHandles = 64;

    struct Created {
        uint32_t status = 0;
        uint32_t handle = 0;       // when status is STATUS_SUCCESS
        uint32_t information = 0;  // FILE_CREATED, FILE_OPENED, ...
    };
    // ZwCreateFile's CreateDisposition (FILE_SUPERSEDE 0 to FILE_OVERWRITE_IF 5).
    Created create(const std::string &path, uint32_t disposition);
    // Writes at the handle's position, or at `offset` when given (kEndOfFile:
    // at the end); the position then follows the bytes written.
    static constexpr uint64_t kEndOfFile = UINT64_MAX;
    uint32_t write(uint32_t handle, const std::vector<uint8_t> &bytes, std::optional<uint64_t> offset);
    uint32_t close(uint32_t handle);

    // Every file made, in the order first created.
    const std::vector<KernelFile> &files() const { return files_; }

private:
    struct Open {
        size_t file;
        uint64_t position;
    };
    std::vector<KernelFile> files_;
    std::map<uint32_t, Open> open_;
    uint64_t total_ = 0;  // the bytes of every file
    uint32_t nextHandle_ = 4;
};

} // namespace emu

#endif
