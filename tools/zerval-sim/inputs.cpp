#include "inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "monitor.h"
#include "number_text.h"
#include "tool_error.h"

namespace {

bool stdinRead = false;

// Closes the descriptor it holds (not standard input).
struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd > 0)
            close(fd);
    }
};

std::string CannotRead(const std::string &path, int error)
{
    return Shown(path) + ": cannot read it (" + std::strerror(error) + ")";
}

} // namespace

std::string Shown(const std::string &path) { return path == "-" ? "standard input" : path; }

std::string ReadInput(const std::string &path)
{
    Descriptor in{-1};
    if (path == "-") {
        if (stdinRead)
            throw ToolError("standard input: already read for another option (give - to one of them only)");
        stdinRead = true;
        in.fd = 0;
    } else {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            throw ToolError(path + ": is a folder, not a file");
        in.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in.fd < 0)
            throw ToolError(CannotRead(path, errno));
    }
    // At most one byte past the limit is read, in pieces, so that an endless
    // file (a device, a pipe) is refused after kLargestInput + 1 bytes.
    std::string bytes;
    char piece[1 << 16];
    while (bytes.size() <= kLargestInput) {
        const size_t want = std::min<uint64_t>(sizeof piece, kLargestInput + 1 - bytes.size());
        const ssize_t got = read(in.fd, piece, want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw ToolError(CannotRead(path, errno));
        if (got == 0)
            return bytes;
        bytes.append(piece, static_cast<size_t>(got));
    }
    throw ToolError(Shown(path) + ": larger than " + std::to_string(kLargestInput >> 20) +
                    " MiB, the most zerval-sim reads from a file");
}

edid::Edid ReadEdid(const std::string &path)
{
    const std::string contents = ReadInput(path);
    try {
        return edid::Decode(edid::BytesOf(contents));
    } catch (const edid::BadEdid &e) {
        throw ToolError(Shown(path) + ": " + e.what());
    }
}

sim::Profile LoadProfile(const Inputs &inputs)
{
    sim::Profile p = sim::DefaultProfile();
    std::string edidPath;
    if (!inputs.profile.empty()) {
        const std::string json = ReadInput(inputs.profile);
        try {
            p = sim::ProfileFromJson(json);
        } catch (const std::exception &e) {
            throw ToolError(Shown(inputs.profile) + ": " + e.what());
        }
        if (!p.edid.empty()) {
            // Relative to the profile's folder (the working folder for standard input).
            const std::filesystem::path named(p.edid);
            const std::filesystem::path folder =
                inputs.profile == "-" ? std::filesystem::path() : std::filesystem::path(inputs.profile).parent_path();
            edidPath = named.is_absolute() ? named.string() : (folder / named).string();
        }
    }
    if (!inputs.edid.empty())
        edidPath = inputs.edid;
    if (!edidPath.empty()) {
        try {
            edid::SetMonitor(ReadEdid(edidPath), p);
        } catch (const edid::BadEdid &e) {
            throw ToolError(Shown(edidPath) + ": " + e.what());
        }
        p.edid.clear();  // the monitor fields now say what it said
        p.description += (p.description.empty() ? "" : "; ") + std::string("monitor from ") + Shown(edidPath);
    }
    return p;
}
