// A disk's first sectors as partition tables: MBR with its extended chain,
// GPT header and entries, the partition listing and the volume choice.
// Bytes past the input read as zeros up to a 2 TiB disk, so tables may
// point anywhere.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "storage/partition_table.h"
#include "storage/volume_selection.h"

namespace {

class memory_disk final : public storage::byte_source {
 public:
  explicit memory_disk(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= size_bytes()) return 0;
    if (length > size_bytes() - offset) length = static_cast<std::size_t>(size_bytes() - offset);
    std::memset(buffer, 0, length);
    if (offset < m_bytes.size()) {
      const std::size_t stored = std::min<std::size_t>(length, m_bytes.size() - offset);
      std::memcpy(buffer, m_bytes.data() + offset, stored);
    }
    return static_cast<std::int64_t>(length);
  }
  std::uint64_t size_bytes() const override { return std::uint64_t{2} << 40; }

 private:
  std::span<const std::uint8_t> m_bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  memory_disk disk({data, size});
  for (const bool lenient : {false, true}) {
    storage::partition_table table;
    storage::parse_partitions(disk, table, lenient, true);
  }
  std::string report;
  bool found = false;
  std::uint64_t offset = 0;
  storage::select_volume(report, found, offset, disk, false);
  return 0;
}
