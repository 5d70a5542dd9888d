// -image on evidence containers: every container made by
// tests/fixtures/make-containers.sh (and the split VMware disk of
// make-vmdk.sh) gives, in every layout, the results of the raw disk it was
// made from, byte for byte after the run header, and the same partition
// listing. Acquisition details, verification, and damaged containers refused
// naming the file at fault are golden runs (containers).
#include <gtest/gtest.h>


#include "tests/common/test_support.h"

using namespace testing_support;

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
    // The stream-optimized disk with its grain directory in a footer, as
    // VMware writes it (made by make-damaged.sh).
    {"damaged/vmdk-footer.vmdk", "VMDK", "mbr.img"},
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

}  // namespace
