// Owner SIDs in the results against what ntfssecaudit read from the owners
// volume. The basic volume's owners in every layout (system files share
// descriptors in $Secure owned by S-1-5-32-544, $Volume has its own owned by
// S-1-5-18) are kept as golden runs.
#include <gtest/gtest.h>

#include <map>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// The owners volume was made with distinct owners set through ntfs-3g's
// security descriptor attribute, and ntfssecaudit listed them
// (path|security id|owner|group).
TEST(OwnerSid, OwnersSetWhenTheVolumeWasMade) {
  const run_result run = run_brindle({"-image", fixture_path("owners.img"), "-csv", "-quiet",
                                      "-action_include_ownersid", "-hide_dos_fntimes"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::map<std::string, std::string> ours;  // "/home/alice.txt" -> owner
  for (const std::string& line : split_lines(results_body(run.out))) {
    const auto fields = split_fields(line, ",");
    if (fields.size() < 14 || fields[4] == "del" || fields[12].rfind("[root]", 0) != 0) continue;
    std::string path = fields[12].substr(std::string("[root]").size());
    for (char& c : path) c = c == '\\' ? '/' : c;
    const auto at = line.find("[owner_sid: ");
    if (at != std::string::npos) ours[path + fields[11]] = line.substr(at + 12, line.find(']', at) - at - 12);
  }
  std::size_t compared = 0;
  for (const std::string& line : split_lines(read_file(source_fixture_path("owners.secaudit.txt")))) {
    const auto fields = split_fields(line, "|");
    // ntfssecaudit shows a made-up descriptor for $MFT, which has none, and
    // lists the root as "/" where the walk names it ".".
    if (fields[0] == "/$MFT") continue;
    const std::string path = fields[0] == "/" ? "/." : fields[0];
    ASSERT_TRUE(ours.count(path)) << path;
    EXPECT_EQ(ours[path], fields[2]) << path;
    ++compared;
  }
  EXPECT_GT(compared, 15u);
}

}  // namespace
