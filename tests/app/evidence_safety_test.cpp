// A run never harms its sources and never ends in silence: an output that
// is a source is refused before anything is written, a failed write ends
// the run with status 255, an earlier results file survives a failed run,
// and options the run does not apply are named.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/common/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

TEST(EvidenceSafety, AnOutputThatIsASourceIsRefusedAndTheSourceStaysAsItWas) {
  scratch_folder folder("safety-sources");
  const std::string image = folder.file("v.img"), mft = folder.file("m.mft");
  fs::copy_file(fixture_path("basic.img"), image);
  fs::copy_file(fixture_path("basic.mft"), mft);
  fs::create_hard_link(image, folder.file("hard.img"));
  fs::create_symlink(image, folder.file("link.img"));
  const std::string before_image = read_file(image), before_mft = read_file(mft);
  const std::vector<std::vector<std::string>> forms = {
      {"-image", image, "-out", image},
      {"-image", image, "-out", folder.file("hard.img")},
      {"-image", image, "-out", folder.file("link.img")},
      {"-image", image, "-append", "-out", image},
      {"-image", image, "-diags", image},
      {"-image", image, "-action_copy_files", folder.file("link.img")},
      {"-image", image, "-cpu", "2", "-out", image},
      {"-partition", image, "-out", folder.file("link.img")},
      {"-mounted_vmdk", image, "-out", image},
      {"-mftfile", mft, "-out", mft},
      {"-mftfile", mft, "-diags", mft},
  };
  for (const auto& form : forms) {
    const run_result run = run_brindle(form);
    EXPECT_EQ(run.exit_status, 255) << form[0] << " " << form[2];
    EXPECT_TRUE(run.err.starts_with("error: output ")) << run.err;
  }
  EXPECT_EQ(read_file(image), before_image);
  EXPECT_EQ(read_file(mft), before_mft);
}

TEST(EvidenceSafety, DevicesStayDevicesAndFailedWritesEndTheRun) {
  scratch_folder folder("safety-writes");
  const std::string mft = fixture_path("basic.mft");
  EXPECT_EQ(run_brindle({"-mftfile", mft, "-quiet", "-out", "/dev/null"}).exit_status, 0);
  struct stat status {};
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));

  const run_result full = run_brindle({"-mftfile", mft, "-quiet", "-out", "/dev/full"});
  EXPECT_EQ(full.exit_status, 255);
  EXPECT_EQ(full.err, "error: writing /dev/full: No space left on device\n");

  // A failed run leaves the earlier results file as it was, and no
  // temporary file beside it.
  const std::string results = folder.file("results.txt");
  write_bytes(results, {'o', 'l', 'd'});
  const run_result missing = run_brindle({"-mftfile", folder.file("absent.mft"), "-out", results});
  EXPECT_EQ(missing.exit_status, 255);
  EXPECT_EQ(read_file(results), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);

  // A file system too small for the results.
  const fs::path tiny = folder.path() / "tiny";
  fs::create_directories(tiny);
  if (::mount("tmpfs", tiny.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  const std::string cut = (tiny / "r.txt").string();
  const run_result small = run_brindle({"-mftfile", mft, "-quiet", "-out", cut});
  ::umount(tiny.c_str());
  EXPECT_EQ(small.exit_status, 255);
  EXPECT_EQ(small.err, "error: writing " + cut + ": No space left on device\n");
}

TEST(EvidenceSafety, OptionsTheRunDoesNotApplyAreNamed) {
  const std::string mft = fixture_path("basic.mft");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-filter_extt", "txt"}, "warning: ignoring unknown option '-filter_extt'\n"},
      {{"-csv", "-out"}, "warning: ignoring option '-out' without its value\n"},
      {{"-filter_inode", "5", "-mftrange", "3"},
       "warning: -filter_inode walks only its entries: ignoring -mftstart/-mftrange\n"},
      {{"-ignore_image_size"}, "warning: ignoring -ignore_image_size without -offset\n"},
  };
  for (const auto& [options, warning] : cases) {
    std::vector<std::string> arguments = {"-mftfile", mft, "-quiet", "-mftstart", "5"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const run_result run = run_brindle(arguments);
    EXPECT_EQ(run.exit_status, 0) << warning;
    EXPECT_EQ(run.err, warning);
  }
}

}  // namespace
