// -version names the version and each optional feature's library, at once.
#include <gtest/gtest.h>

#include "tests/common/test_support.h"

TEST(Version, NamesTheVersionAndTheDigestLibrary) {
  const auto run = testing_support::run_brindle({"--VERSION", "-mftfile", "/nonexistent"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.out.starts_with("brindle " BRINDLE_VERSION "\nfeatures:\n")) << run.out;
  EXPECT_NE(run.out.find("digests: OpenSSL 3."), std::string::npos) << run.out;
}
