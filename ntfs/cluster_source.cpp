#include "ntfs/cluster_source.h"

#include <algorithm>

namespace ntfs {

bool read_plain_stream(cluster_source& clusters, const extent_list& extents, std::uint64_t size_bytes,
                       std::vector<std::uint8_t>& out) {
  out.clear();
  const std::uint32_t cluster = clusters.cluster_size();
  if (cluster == 0) return false;
  const std::uint64_t rounded = (size_bytes + cluster - 1) / cluster * cluster;
  for (const auto& extent : extents) {
    if (out.size() >= size_bytes) break;
    const std::size_t start = out.size();
    const std::uint64_t length = std::min<std::uint64_t>(std::uint64_t{extent.count} * cluster, rounded - start);
    out.resize(start + static_cast<std::size_t>(length));
    if (extent.sparse) continue;
    if (!clusters.read_clusters(extent.lcn, std::span<std::uint8_t>(out).subspan(start))) {
      out.resize(start);
      break;
    }
  }
  const bool complete = out.size() >= size_bytes;
  out.resize(std::min<std::uint64_t>(out.size(), size_bytes));
  return complete;
}

}  // namespace ntfs
