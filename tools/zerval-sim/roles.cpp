#include "roles.h"

#include <algorithm>

#include "linker.h"

namespace {

constexpr const char *kModuleName = "zerval.sys";

// What the module imports from a sibling's module name that the image does
// not export, as "_Attach@16" or "_AttachRMX@8, _S_RMX_Control@12".
std::string Lacks(const pe::Image &image, const pe::Image &module, const char *sibling)
{
    std::string missing;
    for (const pe::Import &i : module.imports)
        if (emu::SameModule(i.module, sibling) && image.exported(i.name) == nullptr)
            missing += (missing.empty() ? "" : ", ") + pe::Printable(i.name);
    return missing;
}

bool ImportsTheModule(const pe::Image &image)
{
    return std::any_of(image.imports.begin(), image.imports.end(),
                       [](const pe::Import &i) { return emu::SameModule(i.module, kModuleName); });
}

bool IsTheModule(const pe::Image &image, const pe::Image &module)
{
    return !module.exports.empty() && std::all_of(module.exports.begin(), module.exports.end(), [&](const pe::Export &e) {
               return image.exported(e.name) != nullptr;
           });
}

bool Fits(Role role, const pe::Image &image, const pe::Image &module)
{
    const RoleInfo &r = InfoOf(role);
    return r.module != nullptr ? Lacks(image, module, r.module).empty() : ImportsTheModule(image);
}

} // namespace

const RoleInfo &InfoOf(Role role)
{
    return *std::find_if(std::begin(kRoles), std::end(kRoles), [role](const RoleInfo &r) { return r.role == role; });
}

std::string RoleMismatch(Role role, const pe::Image &image, const pe::Image &module)
{
    const RoleInfo &r = InfoOf(role);
    if (!IsTheModule(image, module) && Fits(role, image, module))
        return "";
    std::string line = std::string("not a ") + r.what + " for zerval.sys: ";
    if (r.module != nullptr)
        line += "it does not export " + Lacks(image, module, r.module) + ", which zerval.sys imports from " + r.module +
                " (" + emu::ExportsOf(image) + ")";
    else
        line += "it imports nothing from zerval.sys, so it cannot attach it";
    if (IsTheModule(image, module))
        return line + "; it is zerval.sys itself, which --image names";
    for (const RoleInfo &other : kRoles)
        if (other.role != role && Fits(other.role, image, module))
            return line + "; it fits " + other.option + ", as a " + other.what;
    return line;
}
