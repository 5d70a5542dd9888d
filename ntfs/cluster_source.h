// Reading whole clusters of a volume by logical cluster number; the volume
// object provides it, and stream reading is built on it.
#pragma once

#include <cstdint>
#include <span>

namespace ntfs {

class cluster_source {
 public:
  virtual ~cluster_source() = default;

  // Bytes per cluster (a power of two, 512 .. 2 MiB).
  virtual std::uint32_t cluster_size() const = 0;

  // Reads `out.size()` bytes starting at cluster `lcn` (out.size() is a
  // non-zero multiple of the cluster size). False on a read failure or a
  // cluster past the end of the volume.
  virtual bool read_clusters(std::uint64_t lcn, std::span<std::uint8_t> out) = 0;
};

}  // namespace ntfs
