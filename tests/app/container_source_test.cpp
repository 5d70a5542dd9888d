// -image on evidence containers: every container made by
// tests/fixtures/make-containers.sh (and the split VMware disk of
// make-vmdk.sh) gives, in every layout, the results of the raw disk it was
// made from, byte for byte after the run header, and the same partition
// listing; damaged containers are refused naming the file at fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/common/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct container_case {
  const char* file;
  const char* kind;  // as the source name shows it
  const char* raw;   // the fixture disk it holds
};

void PrintTo(const container_case& c, std::ostream* out) { *out << c.file; }

const container_case containers[] = {
    {"ewf-seg.E01", "E01", "gpt.img"},          {"ewf-best.E01", "E01", "mbr.img"},
    {"split-mbr.img.001", "split raw", "mbr.img"}, {"split-gpt.aa", "split raw", "gpt.img"},
    {"vhd-fixed.vhd", "VHD", "mbr.img"},        {"vhd-dynamic.vhd", "VHD", "mbr.img"},
    {"vhdx-dynamic.vhdx", "VHDX", "mbr.img"},   {"qcow-overlay.qcow2", "QCOW2", "gpt.img"},
    {"vmdk-stream.vmdk", "VMDK", "mbr.img"},    {"vmdk-two.vmdk", "VMDK", "mbr.img"},
    {"vmdk-twoflat.vmdk", "VMDK", "gpt.img"},   {"vmdk-twosparse.vmdk", "VMDK", "gpt.img"},
};

// Each layout with digests, on the second NTFS volume of each disk.
const std::vector<std::vector<std::string>> layouts = {
    {"-csv"}, {}, {"-csvperpath"}, {"-filepath_only"}, {"-bodyfile"}, {"-csvl2t"}, {"-hashfile", "md5"}};

std::string offset_of(const std::string& raw) { return raw == "mbr.img" ? "0x3100000" : "0x900000"; }

// Results after the run header; without -offset the partition listing,
// which goes to standard error.
std::string results_of(const std::string& image, std::vector<std::string> layout, const std::string& offset) {
  std::vector<std::string> arguments = {"-image", image, "-quiet", "-md5"};
  if (!offset.empty()) arguments.insert(arguments.end(), {"-offset", offset});
  arguments.insert(arguments.end(), layout.begin(), layout.end());
  const run_result run = run_brindle(arguments);
  EXPECT_EQ(run.exit_status, offset.empty() ? 255 : 0) << image << "\n" << run.err;
  return offset.empty() ? run.err : results_body(run.out);
}

class ContainerSource : public testing::TestWithParam<container_case> {};

TEST_P(ContainerSource, ReadsAsTheRawDisk) {
  const container_case& c = GetParam();
  const std::string container = fixture_path(c.file), raw = fixture_path(c.raw);
  EXPECT_EQ(results_of(container, {"-csv"}, ""), results_of(raw, {"-csv"}, ""));
  for (const auto& layout : layouts) {
    std::string got = results_of(container, layout, offset_of(c.raw));
    // The log2timeline source column names the container and its kind.
    const std::string name = std::string(c.kind) + ": " + container;
    for (std::size_t at; (at = got.find(name)) != std::string::npos;) got.replace(at, name.size(), raw);
    EXPECT_EQ(got, results_of(raw, layout, offset_of(c.raw))) << c.file << " " << (layout.empty() ? "" : layout[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryContainer, ContainerSource, testing::ValuesIn(containers));

TEST(ContainerSource, AcquisitionDetailsAndVerification) {
  const run_result run = run_brindle({"-image", fixture_path("ewf-seg.E01"), "-offset", "0x100000", "-verify_image",
                                      "-csv", "-quiet"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("\nimage: E01; case number: CASE-2024-17; evidence number: EV-003; examiner: J. Examiner; "
                         "acquired: 2024-08-01T12:00:00; description: gpt test disk; stored MD5: "
                         "be8cd91ee7d2bf371b24e3739853960f; stored SHA-1: 67b298a053f91ead025e729524f993681a5e82cf; "
                         "verified MD5 be8cd91ee7d2bf371b24e3739853960f; verified SHA-1 "
                         "67b298a053f91ead025e729524f993681a5e82cf\n\n"),
            std::string::npos)
      << run.out;
  const run_result none = run_brindle({"-image", fixture_path("vhd-fixed.vhd"), "-verify_image", "-csv"});
  EXPECT_EQ(none.exit_status, 255);
  EXPECT_NE(none.err.find("holds no stored digest"), std::string::npos) << none.err;
  // Chunk data changed in the first segment: refused, however it reads.
  scratch_folder folder("container-verify");
  for (const char* name : {"ewf-seg.E01", "ewf-seg.E02", "ewf-seg.E03", "ewf-seg.E04"}) {
    fs::copy_file(fixture_path(name), folder.file(name));
  }
  std::vector<std::uint8_t> bytes = read_bytes(folder.file("ewf-seg.E01"));
  for (std::size_t i = 1100000; i < 1100100; ++i) bytes[i] ^= 0xff;
  write_bytes(folder.file("ewf-seg.E01"), bytes);
  const run_result changed = run_brindle({"-image", folder.file("ewf-seg.E01"), "-verify_image", "-csv"});
  EXPECT_EQ(changed.exit_status, 255);
  EXPECT_NE(changed.err.find("error: " + folder.file("ewf-seg.E01") + ": "), std::string::npos) << changed.err;
}

// VMware writes a stream-optimized disk's grain directory after the grains
// and keeps its offset in a footer (marker, header copy, end marker): the
// same disk moved to that layout reads the same.
TEST(ContainerSource, StreamOptimizedDirectoryInTheFooter) {
  scratch_folder folder("container-footer");
  std::vector<std::uint8_t> bytes = read_bytes(fixture_path("vmdk-stream.vmdk"));
  const std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + 512);
  bytes.resize(bytes.size() + 512, 0);  // footer marker (its fields are not read)
  bytes.insert(bytes.end(), header.begin(), header.end());
  bytes.resize(bytes.size() + 512, 0);  // end-of-stream marker
  std::fill_n(bytes.begin() + 56, 8, 0xff);  // grain directory: "at the end"
  const std::string moved = folder.file("footer.vmdk");
  write_bytes(moved, bytes);
  const std::string offset = offset_of("mbr.img");
  EXPECT_EQ(results_of(moved, {"-csv"}, offset), results_of(fixture_path("mbr.img"), {"-csv"}, offset));
}

// Every file a container is read from is a source no output may be.
TEST(ContainerSource, MemberFilesAreNeverOutputs) {
  scratch_folder folder("container-members");
  for (const char* name : {"ewf-seg.E01", "ewf-seg.E02", "ewf-seg.E03", "ewf-seg.E04", "qcow-overlay.qcow2",
                           "qcow-base.qcow2"}) {
    fs::copy_file(fixture_path(name), folder.file(name));
  }
  const std::vector<std::vector<std::string>> runs = {{"ewf-seg.E01", "-out", "ewf-seg.E03"},
                                                      {"qcow-overlay.qcow2", "-diags", "qcow-base.qcow2"}};
  for (const auto& r : runs) {
    const std::vector<std::uint8_t> before = read_bytes(folder.file(r[2]));
    const run_result run =
        run_brindle({"-image", folder.file(r[0]), "-offset", "0x100000", "-csv", r[1], folder.file(r[2])});
    EXPECT_EQ(run.exit_status, 255) << r[2];
    EXPECT_TRUE(read_bytes(folder.file(r[2])) == before) << r[2];
  }
}

// Damage made in a scratch copy: the file the message must name, and
// whether the run refuses (255) or goes on with a warning.
struct damage_case {
  const char* what;
  std::vector<const char*> copied;  // fixtures copied; the first is given to -image
  const char* damaged;              // the copy changed, or left out when `cut_to` is 0
  std::uintmax_t cut_to;            // bytes kept (0: file removed)
  std::uintmax_t flip_at;           // first of 256 bytes inverted (0: none)
  bool refused;
};

TEST(ContainerSource, DamagedContainersSaySo) {
  const std::vector<damage_case> cases = {
      {"E01 segment missing", {"ewf-seg.E01", "ewf-seg.E02", "ewf-seg.E03", "ewf-seg.E04"}, "ewf-seg.E02", 0, 0, true},
      {"E01 segment cut", {"ewf-seg.E01", "ewf-seg.E02", "ewf-seg.E03", "ewf-seg.E04"}, "ewf-seg.E02", 2000000, 0,
       true},
      // The chunk table of the one segment, behind its "table" section header.
      {"E01 chunk table corrupt", {"ewf-best.E01"}, "ewf-best.E01", ~std::uintmax_t{0}, 0, true},
      {"backing file missing", {"qcow-overlay.qcow2", "qcow-base.qcow2"}, "qcow-base.qcow2", 0, 0, true},
      {"split segment missing", {"split-mbr.img.001", "split-mbr.img.002", "split-mbr.img.003"},
       "split-mbr.img.002", 0, 0, true},
      {"split segment cut", {"split-mbr.img.001", "split-mbr.img.002", "split-mbr.img.003"}, "split-mbr.img.002",
       1000, 0, true},
      {"VMDK extent missing", {"vmdk-twosparse.vmdk", "vmdk-twosparse-s001.vmdk", "vmdk-twosparse-s002.vmdk"},
       "vmdk-twosparse-s002.vmdk", 0, 0, true},
      {"VHD cut", {"vhd-dynamic.vhd"}, "vhd-dynamic.vhd", 20000000, 0, true},
      {"compressed grains cut", {"vmdk-stream.vmdk"}, "vmdk-stream.vmdk", 300000, 0, false},
  };
  for (const damage_case& d : cases) {
    scratch_folder folder("container-damage");
    for (const char* name : d.copied) fs::copy_file(fixture_path(name), folder.file(name));
    const std::string damaged = folder.file(d.damaged);
    if (d.cut_to == 0) fs::remove(damaged);
    if (d.cut_to == ~std::uintmax_t{0}) {
      std::vector<std::uint8_t> bytes = read_bytes(damaged);
      const std::string marker = "table";
      const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) - bytes.begin();
      ASSERT_LT(static_cast<std::size_t>(at) + 400, bytes.size()) << d.what;
      for (std::size_t i = 100; i < 400; ++i) bytes[static_cast<std::size_t>(at) + i] ^= 0x5a;
      write_bytes(damaged, bytes);
    } else if (d.cut_to > 0) {
      fs::resize_file(damaged, d.cut_to);
    }
    const std::string log = folder.file("diags.txt");
    const run_result run = run_brindle({"-image", folder.file(d.copied[0]), "-offset", "0x3100000", "-csv", "-md5",
                                        "-quiet", "-diags", log});
    EXPECT_EQ(run.exit_status, d.refused ? 255 : 0) << d.what << "\n" << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << d.what << "\n" << run.err;
    if (d.refused) {
      EXPECT_NE(run.err.find(d.cut_to == 0 ? std::string(d.damaged) : damaged), std::string::npos)
          << d.what << "\n" << run.err;
    } else {
      EXPECT_NE(run.err.find(" unreadable grains/sectors read as zeros\n"), std::string::npos) << d.what << run.err;
      EXPECT_NE(read_file(log).find(" unreadable grains/sectors read as zeros in " + damaged), std::string::npos);
    }
  }
}

}  // namespace
