#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

namespace zozi_test {

namespace {

std::unique_ptr<corvane_test::RuntimeRoot> s_root;

// The root of this test process on DDS domain 60 (tests may set their own).
class ServerRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        corvane_test::RuntimeRoot::Options options;
        options.sourceDir = CORVANE_SOURCE_DIR;
        options.fpgaSim = FPGA_SIM_PATH;
        options.domainId = 60;
        options.prefix = "zozi-server-root";
        s_root = std::make_unique<corvane_test::RuntimeRoot>(options);
        s_root->exportEnvironment();
    }
    void TearDown() override { s_root.reset(); }
};

::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServerRootEnvironment);

}  // namespace

corvane_test::RuntimeRoot& serverRoot() { return *s_root; }

}  // namespace zozi_test
