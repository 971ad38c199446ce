#include "tests/VICTORY/ZOziDaZodOduzuz/ServerTestRoot.h"

#include <gtest/gtest.h>

#include <memory>

namespace zozi_test {

namespace {

std::unique_ptr<corvane_test::RuntimeRoot> s_root;

class ServerRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        corvane_test::RuntimeRoot::Options options;
        options.sourceDir = CORVANE_SOURCE_DIR;
        options.fpgaSim = FPGA_SIM_PATH;
        options.domainId = kDefaultDomainId;
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
