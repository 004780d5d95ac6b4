#include "images.h"

#include <filesystem>

#include "build_products.h"
#include "error.h"
#include "inputs.h"
#include "roles.h"
#include "tool_error.h"

namespace {

std::string FileName(const std::string &path) { return std::filesystem::path(path).filename().string(); }

pe::Image Parse(const std::string &path)
{
    const std::string bytes = ReadInput(path);
    try {
        return pe::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    } catch (const pe::BadImage &e) {
        throw ToolError(Shown(path) + ": " + e.what());
    }
}

// The path the inputs give for each role, empty where none.
const std::string &PathFor(const Inputs &inputs, Role role)
{
    return role == Role::Services ? inputs.services : role == Role::Tv ? inputs.tv : inputs.display;
}

// The module name a neighbour given for a role is bound by.
std::string ModuleFor(const Inputs &inputs, Role role)
{
    const RoleInfo &r = InfoOf(role);
    return r.module != nullptr ? r.module : FileName(PathFor(inputs, role));
}

// A neighbour image: read, parsed, loadable, and held to the role it was
// given (what it does then is its own business).
emu::Neighbour LoadNeighbour(Role role, const std::string &module, const std::string &path, const pe::Image &zerval)
{
    emu::Neighbour n{module, Parse(path)};
    if (path != "-")
        n.path = path;  // its debug information, for the source lines of what it runs
    try {
        emu::CheckLoadable(n.image);
    } catch (const emu::Error &e) {
        throw ToolError(Shown(path) + ": " + e.what());
    }
    if (const std::string mismatch = RoleMismatch(role, n.image, zerval); !mismatch.empty())
        throw ToolError(Shown(path) + ": " + mismatch);
    return n;
}

} // namespace

std::string ImagePath(const Inputs &inputs)
{
    if (!inputs.image.empty())
        return inputs.image;
    try {
        return products::Existing(products::kImageGnu, "--image");
    } catch (const products::Missing &e) {
        throw ToolError(e.what());
    }
}

std::string ImageShown(const Inputs &inputs)
{
    if (!inputs.image.empty())
        return Shown(inputs.image);
    const std::string built = ImagePath(inputs);
    std::error_code ec;
    const auto rel = std::filesystem::proximate(built, ec);
    return ec || rel.string().rfind("..", 0) == 0 ? built : rel.string();
}

pe::Image LoadImage(const std::string &path) { return Parse(path); }

std::string ChecksumWarning(const std::string &path, const pe::Image &image)
{
    const uint32_t sum = pe::ComputeChecksum(image.bytes, image.checksumOffset);
    if (image.checksum == sum)
        return "";
    return Shown(path) + ": checksum " + pe::Hex(image.checksum) + " in the optional header (offset " +
           pe::Hex(image.checksumOffset) + ") is wrong, the file sums to " + pe::Hex(sum) +
           "; the kernel refuses such a driver at boot";
}

std::vector<emu::Neighbour> LoadNeighbours(const Inputs &inputs, const pe::Image &zerval)
{
    std::vector<emu::Neighbour> out;
    for (const RoleInfo &r : kRoles)
        if (!PathFor(inputs, r.role).empty())
            out.push_back(LoadNeighbour(r.role, ModuleFor(inputs, r.role), PathFor(inputs, r.role), zerval));
    return out;
}

std::string NeighbourFault(const Inputs &inputs, const emu::Fault &f)
{
    for (const RoleInfo &r : kRoles)
        if (!PathFor(inputs, r.role).empty() && emu::SameModule(ModuleFor(inputs, r.role), f.culprit))
            return Shown(PathFor(inputs, r.role)) + ", the " + r.what + ", broke the rules, not zerval.sys: " + f.what();
    return f.culprit + " broke the rules, not zerval.sys: " + f.what();
}

std::string DisplayName(const Inputs &inputs) { return FileName(inputs.display); }

namespace {

// The role of the neighbour given with this module name; none for zerval.sys.
const RoleInfo *RoleOfModule(const Inputs &inputs, const std::string &module)
{
    for (const RoleInfo &r : kRoles)
        if (!PathFor(inputs, r.role).empty() && emu::SameModule(ModuleFor(inputs, r.role), module))
            return &r;
    return nullptr;
}

} // namespace

std::string PathOfModule(const Inputs &inputs, const std::string &module)
{
    const RoleInfo *r = RoleOfModule(inputs, module);
    return r != nullptr ? Shown(PathFor(inputs, r->role)) : ImageShown(inputs);
}

std::string FileOfModule(const Inputs &inputs, const std::string &module)
{
    const RoleInfo *r = RoleOfModule(inputs, module);
    return r != nullptr ? PathFor(inputs, r->role) : ImagePath(inputs);
}
