// Container files with the fuzzer's bytes written over them, read as
// -image: the detection by signature, the VMware stream-optimized reader
// (compressed grains, footer), and the E01, QCOW2, VHD and VHDX wrappers
// with their damage counting, then the volume behind. Differencing disks
// are read with their parents (kept intact beside them), so the child's
// own maps and sector bitmaps meet the damage.
//
// Input: one byte choosing the container (bits 0, 1 and 3) and whether to
// name the first volume's offset (bit 2), then patches (see
// patched_fixture).
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  struct container_choice {
    const char* name;
    const char* parent;  // what a differencing disk is read over, or null
  };
  static const container_choice choices[] = {
      {"vmdk-stream.vmdk", nullptr},         {"ewf-best.E01", nullptr},
      {"qcow-base.qcow2", nullptr},          {"vhd-dynamic.vhd", nullptr},
      {"vhd-diff-child1.vhd", "vhd-dynamic.vhd"}, {"vhdx-diff-child1.vhdx", "vhdx-dynamic.vhdx"},
      {"qcow-overlay.qcow2", "qcow-base.qcow2"},  {"vhdx-dynamic.vhdx", nullptr},
  };
  // Every file is kept in one place, parents too: a parent is only ever
  // patched while it is itself the chosen container, and restored after.
  static std::map<std::string, std::unique_ptr<fuzz::patched_fixture>> files;
  const auto file = [](const char* name) -> fuzz::patched_fixture& {
    auto& slot = files[name];
    if (!slot) slot = std::make_unique<fuzz::patched_fixture>(name);
    return *slot;
  };
  const container_choice& choice = choices[(data[0] & 3) | (data[0] & 8) >> 1];
  if (choice.parent && file(choice.parent).empty()) return 0;
  fuzz::patched_fixture* container = &file(choice.name);
  if (container->empty()) return 0;
  container->apply({data + 1, size - 1});
  std::vector<std::string> arguments{"-image", container->path(), "-csv"};
  if (data[0] & 4) arguments.insert(arguments.end(), {"-offset", "1048576", "-md5"});
  fuzz::run_program_quietly(arguments);
  container->restore();
  return 0;
}
