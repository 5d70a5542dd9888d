// Owner SIDs in the results. What mkntfs and ntfs-3g wrote on the fixture
// volumes (ntfssecaudit reads the same): system files share descriptors in
// $Secure owned by Administrators (S-1-5-32-544); $Volume keeps its own
// descriptor, owned by Local System (S-1-5-18); files ntfs-3g created carry
// their own descriptor owned by Administrators.
#include <gtest/gtest.h>

#include <map>

#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// entry -> owner text in the CSV layout's data column ("" when none shown).
std::map<std::string, std::string> owners(const std::vector<std::string>& source) {
  std::vector<std::string> arguments = source;
  arguments.insert(arguments.end(), {"-csv", "-quiet", "-action_include_ownersid"});
  const run_result run = run_brindle(arguments);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::map<std::string, std::string> found;
  for (const std::string& line : split_lines(results_body(run.out))) {
    const std::string entry = line.substr(0, line.find(','));
    const auto at = line.find("[owner_sid: ");
    found[entry] = at == std::string::npos ? "" : line.substr(at + 12, line.find(']', at) - at - 12);
  }
  return found;
}

TEST(OwnerSid, SharedAndOwnDescriptors) {
  const auto image = owners({"-image", fixture_path("basic.img")});
  EXPECT_EQ(image.at("0x00000001"), "S-1-5-32-544");  // $MFTMirr, security id 0x100
  EXPECT_EQ(image.at("0x00000009"), "S-1-5-32-544");  // $Secure, id 0x101
  EXPECT_EQ(image.at("0x00000003"), "S-1-5-18");      // $Volume, its own descriptor
  EXPECT_EQ(image.at("0x00000049"), "S-1-5-32-544");  // leaf.txt, written by ntfs-3g
  // An extracted $MFT has no $Secure: only records with their own
  // descriptor have an owner.
  const auto bare = owners({"-mftfile", fixture_path("basic.mft")});
  EXPECT_EQ(bare.at("0x00000001"), "");
  EXPECT_EQ(bare.at("0x00000003"), "S-1-5-18");
  EXPECT_EQ(bare.at("0x00000049"), "S-1-5-32-544");
  // Without the option nothing is looked up.
  const run_result plain = run_brindle({"-image", fixture_path("basic.img"), "-csv", "-quiet"});
  EXPECT_EQ(plain.out.find("owner_sid"), std::string::npos);
}

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

TEST(OwnerSid, EveryLayoutShowsIt) {
  const std::vector<std::string> source = {"-image", fixture_path("basic.img"), "-quiet",
                                           "-action_include_ownersid", "-filter_inode", "73"};
  struct layout_case {
    const char* option;
    const char* expected;
  };
  for (const layout_case& c : {layout_case{"-csvperpath", "[owner_sid: S-1-5-32-544]"},
                               layout_case{"-bodyfile", "(file; owner_sid [ S-1-5-32-544]; SI & FN times match)"},
                               layout_case{"-csvl2t", "[owner_sid: S-1-5-32-544]"}}) {
    std::vector<std::string> arguments = source;
    arguments.push_back(c.option);
    const run_result run = run_brindle(arguments);
    EXPECT_NE(run.out.find(c.expected), std::string::npos) << c.option << "\n" << run.out;
  }
  const run_result dump = run_brindle({"-image", fixture_path("basic.img"), "-find_mft", "1"});
  EXPECT_NE(dump.out.find("  Jrnl num:  0x00000000 [0]\n  Owner SID: S-1-5-32-544\n  Group SID: S-1-5-32-544\n"),
            std::string::npos)
      << dump.out;
}

}  // namespace
