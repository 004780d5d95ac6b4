#include <stdexcept>

#include "module_under_test.h"

std::unique_ptr<ModuleUnderTest> MakeHostModule();
#if defined(ZERVAL_WITH_IMAGE_BACKEND)
std::unique_ptr<ModuleUnderTest> MakeImageModule();
#endif

std::string BackendName(Backend backend) { return backend == Backend::Host ? "Host" : "Image"; }

std::vector<Backend> AvailableBackends()
{
#if defined(ZERVAL_WITH_IMAGE_BACKEND)
    return {Backend::Host, Backend::Image};
#else
    return {Backend::Host};
#endif
}

std::unique_ptr<ModuleUnderTest> MakeModule(Backend backend)
{
    switch (backend) {
    case Backend::Host: return MakeHostModule();
#if defined(ZERVAL_WITH_IMAGE_BACKEND)
    case Backend::Image: return MakeImageModule();
#endif
    default: throw std::runtime_error("backend " + BackendName(backend) + " is not built");
    }
}
