// Container files with the fuzzer's bytes written over them, read as
// -image: the detection by signature, the VMware stream-optimized reader
// (compressed grains, footer), and the E01, QCOW2 and VHD wrappers with
// their damage counting, then the volume behind.
//
// Input: one byte choosing the container (and whether to name the first
// volume's offset), then patches (see patched_fixture).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const names[] = {"vmdk-stream.vmdk", "ewf-best.E01", "qcow-base.qcow2", "vhd-dynamic.vhd"};
  static std::unique_ptr<fuzz::patched_fixture> containers[std::size(names)];
  auto& container = containers[data[0] & 3];
  if (!container) container = std::make_unique<fuzz::patched_fixture>(names[data[0] & 3]);
  if (container->empty()) return 0;
  container->apply({data + 1, size - 1});
  std::vector<std::string> arguments{"-image", container->path(), "-csv"};
  if (data[0] & 4) arguments.insert(arguments.end(), {"-offset", "1048576", "-md5"});
  fuzz::run_program_quietly(arguments);
  container->restore();
  return 0;
}
