// Where the build's products are, for the programs the build makes: found
// relative to the running program, which the build puts in <build>/bin and
// the kit (`cmake --install`) in <kit>/bin, so that a copied or moved build
// tree or kit uses its own images and baseline.  A tree is a kit when it
// holds lib/cmake/zerval/zerval-config.cmake.  An environment variable names
// another file instead.
#ifndef ZERVAL_HARNESS_BUILD_PRODUCTS_H
#define ZERVAL_HARNESS_BUILD_PRODUCTS_H

#include <stdexcept>
#include <string>

namespace products {

// A product the program was asked to use by default and that is not there.
// The message is one line: what is missing, where, and how to name another.
struct Missing : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Product {
    const char *what;      // "zerval.sys (GNU dialect)"
    const char *variable;  // "ZERVAL_IMAGE": names another file
    const char *relative;  // "image-gnu/zerval.sys", from the build tree's top
    const char *kit;       // "sys/gnu/zerval.sys", from the kit's top; null: not in the kit
};

constexpr Product kImageGnu = {"zerval.sys (GNU dialect)", "ZERVAL_IMAGE", "image-gnu/zerval.sys",
                               "sys/gnu/zerval.sys"};
constexpr Product kImageMsvc = {"zerval.sys (MSVC dialect)", "ZERVAL_IMAGE_MSVC", "image-msvc/zerval.sys",
                                "sys/msvc/zerval.sys"};
constexpr Product kExampleDisplay = {"example display driver", "ZERVAL_EXAMPLE_DISPLAY",
                                     "image-gnu/example_display.sys", "sys/examples/example_display.sys"};
constexpr Product kExampleDisplayMsvc = {"example display driver (MSVC dialect)", "ZERVAL_EXAMPLE_DISPLAY_MSVC",
                                         "image-msvc/example_display.sys", nullptr};
constexpr Product kExampleDisplayMsvcGnuLib = {"example display driver (MSVC dialect, GNU import library)",
                                               "ZERVAL_EXAMPLE_DISPLAY_MSVC_GNULIB",
                                               "image-msvc/example_display_libzerval.sys", nullptr};
constexpr Product kExampleServices = {"example services driver", "ZERVAL_EXAMPLE_SERVICES", "examples/kelv.sys",
                                      "sys/examples/kelv.sys"};
constexpr Product kExampleTv = {"example TV driver", "ZERVAL_EXAMPLE_TV", "examples/rmx.sys", "sys/examples/rmx.sys"};
constexpr Product kWineProbe = {"probe display driver", "ZERVAL_WINE_PROBE", "share/zerval/wine/zprobe.sys",
                                "share/zerval/wine/zprobe.sys"};
constexpr Product kSim = {"zerval-sim", "ZERVAL_SIM", "bin/zerval-sim", "bin/zerval-sim"};
constexpr Product kWine = {"zerval-wine", "ZERVAL_WINE", "bin/zerval-wine", "bin/zerval-wine"};
constexpr Product kBench = {"zerval-bench", "ZERVAL_BENCH", "bin/zerval-bench", nullptr};
constexpr Product kBaseline = {"benchmark baseline", "ZERVAL_BASELINE", "bench/baseline.txt", nullptr};

// The product's path: the variable's value where it is set, else the path
// relative to the folder above the program's own.  Does not look at the file.
std::string PathOf(const Product &product);

// The same, for a product about to be read: throws Missing when there is no
// file there.  `option` is the program's own option that names another, if
// it has one ("--image").
std::string Existing(const Product &product, const char *option = nullptr);

} // namespace products

#endif
