#include <stdexcept>

#include "host_backend.h"
#include "module_under_test.h"

#if defined(ZERVAL_WITH_IMAGE_BACKEND)
#include "image_backend.h"
#endif

std::string BackendName(Backend backend)
{
    switch (backend) {
    case Backend::Host: return "Host";
    case Backend::Image: return "Image";
    case Backend::ImageMsvc: return "ImageMsvc";
    }
    return "?";
}

std::vector<Backend> AvailableBackends()
{
#if defined(ZERVAL_WITH_IMAGE_BACKEND)
    return {Backend::Host, Backend::Image, Backend::ImageMsvc};
#else
    return {Backend::Host};
#endif
}

std::unique_ptr<ModuleUnderTest> MakeModule(Backend backend)
{
    switch (backend) {
    case Backend::Host: return MakeHostModule();
#if defined(ZERVAL_WITH_IMAGE_BACKEND)
    case Backend::Image: return MakeImageModule(ImageDialect::Gnu);
    case Backend::ImageMsvc: return MakeImageModule(ImageDialect::Msvc);
#endif
    default: throw std::runtime_error("backend " + BackendName(backend) + " is not built");
    }
}
