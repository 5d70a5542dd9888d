// -vmdk and -mounted_vmdk from the command line: a VMware disk must give
// exactly the results of the raw disk it stands for. The raw views come
// either from the fixture image qemu-img converted, or, for snapshots, from
// our VMDK reader (whose bytes the storage tests hold against qemu's raw
// views), written out and read with -image. The source names and the
// refusals are golden runs (vmdk_source).
#include <gtest/gtest.h>

#include <fstream>

#include "storage/disk_reader.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

std::string body_of(const std::vector<std::string>& arguments) {
  std::vector<std::string> all = arguments;
  // Digests too: the snapshots change file contents, not metadata.
  all.insert(all.end(), {"-csv", "-quiet", "-md5"});
  const run_result run = run_brindle(all);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  return results_body(run.out);
}

// The virtual disk of `chain` as one raw file.
void write_raw_view(const std::vector<std::string>& chain, const std::string& target) {
  storage::vmdk_chain_paths paths;
  for (const std::string& path : chain) paths.paths.push_back(uni::to_wide(path));
  storage::disk_reader disk(paths);
  ASSERT_TRUE(disk.is_open());
  std::ofstream out(target, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  for (std::uint64_t at = 0; at < disk.size_bytes();) {
    std::size_t length = buffer.size();
    ASSERT_TRUE(disk.read(buffer.data(), length, at));
    out.write(buffer.data(), static_cast<std::streamsize>(length));
    at += length;
  }
}

TEST(VmdkSource, SameResultsAsTheRawDisk) {
  scratch_folder folder("vmdk-source");
  const std::string base = fixture_path("vmdk-chain-base.vmdk"), child1 = fixture_path("vmdk-chain-child1.vmdk"),
                    child2 = fixture_path("vmdk-chain-child2.vmdk");
  // Converted by qemu-img from these images.
  for (const char* offset : {"0x100000", "0x3100000"}) {
    EXPECT_EQ(body_of({"-vmdk", fixture_path("vmdk-mono.vmdk"), "-offset", offset}),
              body_of({"-image", fixture_path("mbr.img"), "-offset", offset}));
  }
  const std::string basic = body_of({"-image", fixture_path("basic.img")});
  EXPECT_EQ(body_of({"-vmdk", base}), basic);
  EXPECT_EQ(body_of({"-mounted_vmdk", fixture_path("vmdk-flat-flat.vmdk"), "-offset", "0x100000"}),
            body_of({"-image", fixture_path("offset.img"), "-offset", "0x100000"}));

  // The newest snapshot's view, with the chain named in any order and with
  // any of the three separators.
  const std::string raw = folder.file("child2.raw");
  write_raw_view({base, child1, child2}, raw);
  const std::string newest = body_of({"-image", raw});
  EXPECT_TRUE(newest != basic) << "the snapshots change file contents";
  for (const std::string& list : {base + "|" + child1 + "|" + child2, child2 + " ; " + base + " ; " + child1,
                                  child1 + "," + child2 + "," + base}) {
    EXPECT_EQ(body_of({"-vmdk", list}), newest) << list;
  }
  // The middle snapshot's view, and its parent found through its hint.
  const std::string raw1 = folder.file("child1.raw");
  write_raw_view({base, child1}, raw1);
  EXPECT_EQ(body_of({"-vmdk", child1}), body_of({"-image", raw1}));
  // A disk of 4 KiB grains, and a snapshot of 4 KiB grains over the base
  // of 64 KiB grains.
  EXPECT_EQ(body_of({"-vmdk", fixture_path("vmdk-grain4k.vmdk"), "-offset", "0x900000"}),
            body_of({"-image", fixture_path("gpt.img"), "-offset", "0x900000"}));
  const std::string raw4k = folder.file("grain4k.raw");
  write_raw_view({base, fixture_path("vmdk-grain4k-child.vmdk")}, raw4k);
  const std::string small_grains = body_of({"-image", raw4k});
  EXPECT_TRUE(small_grains != basic);
  EXPECT_EQ(body_of({"-vmdk", fixture_path("vmdk-grain4k-child.vmdk") + "|" + base}), small_grains);
}

}  // namespace
