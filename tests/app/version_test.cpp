// -version names the program's version and the library of each optional
// feature, and ends the run at once with status 0.
#include <gtest/gtest.h>

#include "tests/common/test_support.h"

using namespace testing_support;

TEST(Version, NamesTheVersionAndTheDigestLibrary) {
  for (const char* option : {"-version", "--VERSION"}) {
    const run_result run = run_brindle({option, "-mftfile", "/nonexistent"});
    EXPECT_EQ(run.exit_status, 0) << option;
    EXPECT_TRUE(run.out.starts_with("brindle " BRINDLE_VERSION "\nfeatures:\n")) << run.out;
    EXPECT_NE(run.out.find("digests: OpenSSL 3."), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
}
