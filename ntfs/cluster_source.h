// Reading whole clusters of a volume by logical cluster number; the volume
// object provides it, and stream reading is built on it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/run_list.h"

namespace ntfs {

class cluster_source {
 public:
  virtual ~cluster_source() = default;

  // Bytes per cluster (a power of two, 512 .. 2 MiB).
  virtual std::uint32_t cluster_size() const = 0;

  // Clusters the volume has; no stream can hold more, so an extent that
  // reaches past them is damage.
  virtual std::uint64_t cluster_count() const { return ~std::uint64_t{0}; }

  // Reads `out.size()` bytes starting at cluster `lcn` (out.size() is a
  // non-zero multiple of the cluster size). False on a read failure or a
  // cluster past the end of the volume.
  virtual bool read_clusters(std::uint64_t lcn, std::span<std::uint8_t> out) = 0;
};

// Reads the first `size_bytes` bytes of an uncompressed stream from its
// extents (sparse extents read as zeros) into `out`. Stops at the first
// failed read; returns false when fewer than `size_bytes` bytes were read.
bool read_plain_stream(cluster_source& clusters, const extent_list& extents, std::uint64_t size_bytes,
                       std::vector<std::uint8_t>& out);

}  // namespace ntfs
