// The roles a neighbour image is given on zerval-sim's command line, and
// whether an image fits the one it was given: judged from what the module
// image itself imports (what a services or TV driver must export) and
// exports (what a display driver imports), so that no name is written twice.
#ifndef ZERVAL_SIM_TOOL_ROLES_H
#define ZERVAL_SIM_TOOL_ROLES_H

#include <string>

#include "pe_image.h"

enum class Role { Services, Tv, Display };

struct RoleInfo {
    Role role;
    const char *option;  // "--services"
    const char *what;    // "services driver"
    const char *module;  // the module name zerval.sys imports it by; null for a display driver
};
constexpr RoleInfo kRoles[] = {
    {Role::Services, "--services", "services driver", "kelv.sys"},
    {Role::Tv, "--tv", "TV driver", "rmx.sys"},
    {Role::Display, "--display", "display driver", nullptr},
};
const RoleInfo &InfoOf(Role role);

// Empty when `image` fits `role` next to `module`.  Otherwise one line: what
// it lacks for that role, what it exports, and the role it fits instead, if
// any ("it is zerval.sys itself", "it fits --tv, as a TV driver").
std::string RoleMismatch(Role role, const pe::Image &image, const pe::Image &module);

#endif
