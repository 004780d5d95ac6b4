#include "build_products.h"

#include <cstdlib>
#include <filesystem>

namespace products {

namespace {

// <build>/bin/program -> <build>, <kit>/bin/program -> <kit>
std::filesystem::path BuildTree()
{
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw Missing("cannot find the running program (/proc/self/exe): " + ec.message());
    return program.parent_path().parent_path();
}

// The file the product's variable names; null where it is unset or empty.
const char *Named(const Product &product)
{
    const char *named = std::getenv(product.variable);
    return named != nullptr && *named != '\0' ? named : nullptr;
}

bool IsKit(const std::filesystem::path &top)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(top / "lib/cmake/zerval/zerval-config.cmake", ec);
}

} // namespace

std::string PathOf(const Product &product)
{
    if (const char *named = Named(product))
        return named;
    const std::filesystem::path top = BuildTree();
    if (!IsKit(top))
        return (top / product.relative).string();
    if (product.kit == nullptr)
        throw Missing("the kit at " + top.string() + " ships no " + product.what + " (name one with " +
                      product.variable + ")");
    return (top / product.kit).string();
}

std::string Existing(const Product &product, const char *option)
{
    const std::string path = PathOf(product);
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec))
        return path;
    const std::string missing = "no " + std::string(product.what) + " at " + path;
    if (Named(product) != nullptr)
        throw Missing(missing + " (named by " + product.variable + ")");
    const std::string others = option != nullptr ? std::string(option) + " or " + product.variable : product.variable;
    throw Missing(missing + " (not built? name another with " + others + ")");
}

} // namespace products
