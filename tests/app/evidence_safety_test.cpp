// A run never ends in silence: a failed write ends the run with status 255
// and leaves an earlier results file as it was. An output that is a source
// is refused before anything is written: golden runs (evidence_safety).
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/common/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

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

  // An earlier results file outlives a failed run; no temporary is left.
  const std::string results = folder.file("results.txt");
  write_bytes(results, {'o', 'l', 'd'});
  EXPECT_EQ(run_brindle({"-mftfile", folder.file("absent.mft"), "-out", results}).exit_status, 255);
  EXPECT_EQ(read_file(results), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);

  const fs::path tiny = folder.path() / "tiny";
  fs::create_directories(tiny);
  if (::mount("tmpfs", tiny.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  const std::string cut = (tiny / "r.txt").string();
  const run_result small = run_brindle({"-mftfile", mft, "-quiet", "-out", cut});
  ::umount(tiny.c_str());
  EXPECT_EQ(small.exit_status, 255);
  EXPECT_EQ(small.err, "error: writing " + cut + ": No space left on device\n");
}

}  // namespace
