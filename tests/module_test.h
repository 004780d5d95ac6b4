// The fixture every behaviour test uses: a fresh module in its load-time
// state, on each backend in turn.
#ifndef ZERVAL_TESTS_MODULE_TEST_H
#define ZERVAL_TESTS_MODULE_TEST_H

#include <gtest/gtest.h>

#include "module_under_test.h"

class ModuleTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override { m = MakeModule(GetParam()); }
    void TearDown() override
    {
        // No test may leave the pool with a fault, nor a record handed to a
        // hook outside the caller's stack.
        for (const std::string &fault : m->pool.faults())
            ADD_FAILURE() << "pool fault: " << fault;
        for (const std::string &breach : m->log.breaches())
            ADD_FAILURE() << "contract breach: " << breach;
    }

    // A record as the display driver would hand it over.
    static VIDEO_MODE_INFORMATION Record(uint32_t width, uint32_t height, uint32_t bpp, uint32_t frequency,
                                         uint32_t driverFlags = 0)
    {
        VIDEO_MODE_INFORMATION r{};
        r.Length = sizeof(VIDEO_MODE_INFORMATION);
        r.VisScreenWidth = width;
        r.VisScreenHeight = height;
        r.BitsPerPlane = bpp;
        r.Frequency = frequency;
        r.DriverSpecificAttributeFlags = driverFlags;
        return r;
    }

    // With no query hook to ask, vValidateMode marks a record unusable and
    // SetMode returns 87, and neither calls anybody.
    static void expectModeServicesRefuseWithoutCalls(ModuleUnderTest &module)
    {
        const size_t calls = module.log.calls().size();
        VIDEO_MODE_INFORMATION r = Record(640, 480, 8, 60);
        module.vValidateMode(&r, 0);
        EXPECT_EQ(r.Length, 0u);
        EXPECT_EQ(module.SetMode(&r, 0), 87u);
        EXPECT_EQ(module.log.calls().size(), calls);
    }
    void expectModeServicesRefuseWithoutCalls() { expectModeServicesRefuseWithoutCalls(*m); }

    // The services driver accepts every query and answers it at `refresh`.
    void answerEveryQueryAt(uint16_t refresh)
    {
        m->adapter.onQueryMode = [refresh](sim::Query &q) {
            q.refresh = refresh;
            return 1u;
        };
    }

    std::unique_ptr<ModuleUnderTest> m;
};

#define ZERVAL_ON_EVERY_BACKEND(Suite)                                                             \
    INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::ValuesIn(AvailableBackends()),           \
                             [](const ::testing::TestParamInfo<Backend> &info) {                  \
                                 return BackendName(info.param);                                   \
                             })

#endif
