// The simulated kernel's file routines, served to any image from the
// machine's KernelFiles: the guest's arguments read and checked, the results
// written back as the routines' callers expect.
#include "machine.h"

namespace emu {

namespace {

// LARGE_INTEGER ByteOffset values that mean "no offset given".
constexpr uint64_t kWriteToEnd = 0xFFFFFFFFFFFFFFFFull;      // FILE_WRITE_TO_END_OF_FILE
constexpr uint64_t kUsePosition = 0xFFFFFFFFFFFFFFFEull;     // FILE_USE_FILE_POINTER_POSITION

} // namespace

// ZwCreateFile(&Handle, Access, ObjectAttributes, IoStatusBlock, AllocationSize,
// FileAttributes, ShareAccess, CreateDisposition, CreateOptions, EaBuffer,
// EaLength): the file named by ObjectAttributes->ObjectName, a full NT path.
uint32_t Machine::createFile(const ServedCall &call)
{
    const uint32_t handleOut = call.args[0], attributes = call.args[2], io = call.args[3], disposition = call.args[7];
    if (handleOut == 0 || attributes == 0 || readU32(attributes + 4) != 0)  // no RootDirectory: full paths only
        return KernelFiles::kInvalidParameter;
    const uint32_t name = readU32(attributes + 8);
    if (name == 0)
        return KernelFiles::kNameInvalid;
    const uint32_t lengths = readU32(name);
    const uint32_t bytes = lengths & 0xFFFF;
    if (bytes % 2 != 0)
        return KernelFiles::kNameInvalid;
    std::vector<uint16_t> units(bytes / 2);
    if (bytes != 0)
        read(readU32(name + 4), units.data(), bytes);
    std::string path;
    for (uint16_t u : units)
        path += u != 0 && u < 0x80 ? static_cast<char>(u) : '?';
    const KernelFiles::Created c = files_.create(path, disposition);
    if (c.status == 0)
        write(handleOut, &c.handle, 4);
    if (io != 0) {
        const uint32_t block[2] = {c.status, c.information};
        write(io, block, sizeof block);
    }
    return c.status;
}

// ZwWriteFile(Handle, Event, ApcRoutine, ApcContext, IoStatusBlock, Buffer,
// Length, ByteOffset, Key): synchronous; Event and the APC are not used.
uint32_t Machine::writeFile(const ServedCall &call)
{
    const uint32_t handle = call.args[0], io = call.args[4], buffer = call.args[5], length = call.args[6],
                   offsetAt = call.args[7];
    if (length > KernelFiles::kLargestFile)
        return KernelFiles::kDiskFull;
    std::vector<uint8_t> bytes(length);
    if (length != 0)
        read(buffer, bytes.data(), length);
    std::optional<uint64_t> offset;
    if (offsetAt != 0) {
        uint64_t given = 0;
        read(offsetAt, &given, 8);
        if (given == kWriteToEnd)
            offset = KernelFiles::kEndOfFile;
        else if (given != kUsePosition)
            offset = given;
    }
    const uint32_t status = files_.write(handle, bytes, offset);
    if (io != 0) {
        const uint32_t block[2] = {status, status == 0 ? length : 0};
        write(io, block, sizeof block);
    }
    return status;
}

} // namespace emu
