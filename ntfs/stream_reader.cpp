#include "ntfs/stream_reader.h"

#include <algorithm>

#include "ntfs/lznt1.h"
#include "support/byte_reader.h"

namespace ntfs {
namespace {

constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();

// Plain streams go to the sink 16 clusters at a time (at least one cluster,
// and no more than 1 MiB unless a cluster is larger).
constexpr std::uint64_t k_chunk_clusters = 16;
constexpr std::uint64_t k_chunk_limit_bytes = 1u << 20;

// Units when the header gives no compression unit; and the largest unit we
// accept: NTFS compresses only with clusters up to 4 KiB, so real units are
// 64 KiB and a larger one is damage.
constexpr std::uint64_t k_default_unit_clusters = 16;
constexpr std::uint16_t k_largest_unit_shift = 8;
constexpr std::uint64_t k_largest_unit_bytes = 16u << 20;

std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > saturated / a) return saturated;
  return a * b;
}

bool covers(const cluster_extent& extent, std::uint64_t vcn) {
  return vcn >= extent.vcn && vcn - extent.vcn < extent.count;
}

// The first extent covering `vcn`. Reads move forward through ordered
// extents, so the extent found last and the one after it are tried first.
const cluster_extent* find_extent(const extent_list& extents, std::uint64_t vcn, std::size_t& hint) {
  if (hint < extents.size() && covers(extents[hint], vcn)) return &extents[hint];
  if (hint + 1 < extents.size() && covers(extents[hint + 1], vcn)) return &extents[++hint];
  for (std::size_t i = 0; i < extents.size(); ++i) {
    if (covers(extents[i], vcn)) {
      hint = i;
      return &extents[i];
    }
  }
  return nullptr;
}

// Whether an extent lies (in part) past the last of `volume_clusters`:
// either its VCNs, which no stream of the volume can have, or its LCNs.
bool past_volume(const cluster_extent& extent, std::uint64_t volume_clusters) {
  if (extent.vcn > volume_clusters || extent.count > volume_clusters - extent.vcn) return true;
  return !extent.sparse && (extent.lcn > volume_clusters || extent.count > volume_clusters - extent.lcn);
}

// Clusters covered without a gap from VCN 0, up to the first extent past
// the volume (`cut` is then set).
std::uint64_t covered_clusters(const extent_list& extents, std::uint64_t volume_clusters, bool& cut) {
  std::uint64_t vcn = 0;
  std::size_t hint = 0;
  cut = false;
  while (const cluster_extent* extent = find_extent(extents, vcn, hint)) {
    if (past_volume(*extent, volume_clusters)) {
      cut = true;
      break;
    }
    const std::uint64_t next = extent->vcn + extent->count;
    if (next <= vcn) break;  // wrapped past 2^64
    vcn = next;
  }
  return vcn;
}

// Zeros handed out for holes by sinks that write them.
constexpr std::size_t zero_block_bytes = 1 << 16;
const std::uint8_t zero_block[zero_block_bytes] = {};

void zero(std::span<std::uint8_t> bytes) { std::fill(bytes.begin(), bytes.end(), std::uint8_t{0}); }

// Zeros the part of `bytes` (which starts at stream offset `position`) at or
// past `valid_end`.
void zero_past(std::span<std::uint8_t> bytes, std::uint64_t position, std::uint64_t valid_end) {
  if (position >= valid_end) {
    zero(bytes);
  } else if (valid_end - position < bytes.size()) {
    zero(bytes.subspan(static_cast<std::size_t>(valid_end - position)));
  }
}

}  // namespace

// A stretch of the stream inside one extent.
struct stream_reader::piece {
  std::uint64_t length = 0;  // bytes
  std::uint64_t lcn = 0;     // cluster holding the first byte (not for sparse)
  std::uint64_t offset_in_cluster = 0;
  bool sparse = false;
};

bool stream_reader::next_piece(const extent_list& extents, std::uint64_t position, std::uint64_t end, piece& out) {
  const std::uint64_t cluster = m_clusters.cluster_size();
  const std::uint64_t vcn = position / cluster;
  const cluster_extent* extent = find_extent(extents, vcn, m_hint);
  if (!extent) return false;
  const std::uint64_t into = vcn - extent->vcn;
  out.offset_in_cluster = position % cluster;
  const std::uint64_t room = saturating_multiply(extent->count - into, cluster) - out.offset_in_cluster;
  out.length = std::min(end - position, room);
  out.sparse = extent->sparse != 0;
  out.lcn = 0;
  if (!out.sparse) {
    if (extent->lcn > saturated - into) return false;
    out.lcn = extent->lcn + into;
  }
  return true;
}

std::size_t stream_reader::read_bytes(std::uint64_t lcn, std::uint64_t offset_in_cluster, std::span<std::uint8_t> out) {
  const std::size_t cluster = m_clusters.cluster_size();
  std::size_t done = 0;
  while (done < out.size()) {
    const std::size_t left = out.size() - done;
    if (offset_in_cluster != 0 || left < cluster) {
      // Part of a cluster: through the cluster buffer.
      m_cluster.resize(cluster);
      if (!m_clusters.read_clusters(lcn, m_cluster)) return done;
      const std::size_t take = std::min(cluster - static_cast<std::size_t>(offset_in_cluster), left);
      std::copy_n(m_cluster.begin() + static_cast<std::ptrdiff_t>(offset_in_cluster), take,
                  out.begin() + static_cast<std::ptrdiff_t>(done));
      done += take;
      offset_in_cluster = 0;
    } else {
      // Whole clusters straight into the output; after a failure, again one
      // at a time to keep everything before the bad cluster.
      const std::size_t whole = left / cluster * cluster;
      if (lcn > saturated - whole / cluster) return done;
      if (m_clusters.read_clusters(lcn, out.subspan(done, whole))) {
        done += whole;
        lcn += whole / cluster;
        continue;
      }
      for (std::size_t i = 0; i < whole / cluster; ++i, ++lcn) {
        if (!m_clusters.read_clusters(lcn, out.subspan(done, cluster))) return done;
        done += cluster;
      }
      continue;
    }
    if (done < out.size() && lcn == saturated) return done;
    ++lcn;
  }
  return done;
}

bool stream_reader::read_range(const extent_list& extents, std::uint64_t offset_bytes, std::span<std::uint8_t> buffer,
                               std::size_t& size_out, std::uint32_t& flags_in_out) {
  const bool skip_sparse = (flags_in_out & range_flag::skip_sparse) != 0;
  flags_in_out = range_flag::read_done;
  size_out = 0;
  if (m_clusters.cluster_size() == 0) return false;
  const std::uint64_t end = buffer.size() > saturated - offset_bytes ? saturated : offset_bytes + buffer.size();
  bool sparse_seen = false;
  std::uint64_t position = offset_bytes;
  piece p;
  while (position < end && next_piece(extents, position, end, p)) {
    // p.length <= end - position, which the buffer still has room for.
    const std::size_t length = static_cast<std::size_t>(p.length);
    if (p.sparse) {
      sparse_seen = true;
      if (!skip_sparse) {
        zero(buffer.subspan(size_out, length));
        size_out += length;
      }
    } else {
      const std::size_t got = read_bytes(p.lcn, p.offset_in_cluster, buffer.subspan(size_out, length));
      size_out += got;
      if (got != length) break;
    }
    position += p.length;
  }
  if (sparse_seen && !skip_sparse) flags_in_out |= range_flag::sparse_read;
  return size_out > 0;
}

bool stream_sink::hole(std::uint64_t length_bytes) {
  while (length_bytes > 0) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length_bytes, zero_block_bytes));
    if (!write(std::span<const std::uint8_t>(zero_block, take))) return false;
    length_bytes -= take;
  }
  return true;
}

bool stream_reader::emit(stream_sink& sink, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return true;
  m_written += bytes.size();
  return sink.write(bytes);
}

bool stream_reader::emit_hole(stream_sink& sink, std::uint64_t length_bytes) {
  if (length_bytes == 0) return true;
  m_written += length_bytes;
  return sink.hole(length_bytes);
}

bool stream_reader::read(const attribute_header& header, const extent_list& extents, stream_sink& sink,
                         const stream_read_options& options) {
  m_written = 0;
  m_hint = 0;
  m_cut_at_damage = false;
  const std::uint64_t cluster = m_clusters.cluster_size();
  if (!header.non_resident || cluster == 0) return false;
  const std::uint64_t covered = covered_clusters(extents, m_clusters.cluster_count(), m_cut_at_damage);
  std::uint64_t length = options.raw ? header.allocated_size : header.stream_size();
  length = std::min({length, saturating_multiply(covered, cluster), options.max_bytes});
  if (length == 0) return true;
  if ((header.flags & attribute_flag_compressed) != 0 && !options.raw) {
    return read_compressed(header, extents, length, covered, sink, options);
  }
  return read_plain(header, extents, length, sink, options);
}

bool stream_reader::read_plain(const attribute_header& header, const extent_list& extents, std::uint64_t length,
                               stream_sink& sink, const stream_read_options& options) {
  const std::uint64_t cluster = m_clusters.cluster_size();
  const std::uint64_t chunk_clusters =
      std::max<std::uint64_t>(1, std::min(k_chunk_clusters, k_chunk_limit_bytes / cluster));
  const std::uint64_t chunk = cluster * chunk_clusters;
  m_raw.resize(static_cast<std::size_t>(chunk));
  const std::uint64_t valid_end = options.raw ? saturated : header.initialized_size;
  std::size_t filled = 0;
  const auto flush = [&] {
    const bool ok = emit(sink, std::span<const std::uint8_t>(m_raw).first(filled));
    filled = 0;
    return ok;
  };
  std::uint64_t position = 0;
  piece p;
  while (position < length) {
    if (!next_piece(extents, position, length, p)) return false;
    if (p.sparse) {
      // A hole of any length costs neither memory nor reads.
      if (!flush()) return false;
      if (!options.skip_sparse && !emit_hole(sink, p.length)) return false;
      position += p.length;
      continue;
    }
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(p.length, chunk - filled));
    const std::span<std::uint8_t> target = std::span<std::uint8_t>(m_raw).subspan(filled, take);
    if (position >= valid_end) {
      zero(target);  // never written: nothing to read
    } else {
      if (read_bytes(p.lcn, p.offset_in_cluster, target) != take) return false;
      zero_past(target, position, valid_end);
    }
    filled += take;
    position += take;
    if (filled == chunk && !flush()) return false;
  }
  return flush();
}

bool stream_reader::all_sparse(const extent_list& extents, std::uint64_t first_vcn, std::uint64_t clusters) {
  const std::uint64_t cluster = m_clusters.cluster_size();
  std::uint64_t position = first_vcn * cluster;
  const std::uint64_t end = position + clusters * cluster;
  piece p;
  while (position < end) {
    if (!next_piece(extents, position, end, p) || !p.sparse) return false;
    position += p.length;
  }
  return true;
}

bool stream_reader::read_compressed(const attribute_header& header, const extent_list& extents, std::uint64_t length,
                                    std::uint64_t covered, stream_sink& sink, const stream_read_options& options) {
  const std::uint64_t cluster = m_clusters.cluster_size();
  const std::uint16_t shift = header.compression_unit;
  const std::uint64_t unit_clusters =
      shift >= 1 && shift <= k_largest_unit_shift ? std::uint64_t{1} << shift : k_default_unit_clusters;
  const std::uint64_t unit_bytes = saturating_multiply(unit_clusters, cluster);
  if (unit_bytes > k_largest_unit_bytes) return false;
  m_raw.resize(static_cast<std::size_t>(unit_bytes));
  m_unit.resize(static_cast<std::size_t>(unit_bytes));
  const std::uint64_t valid_end = header.initialized_size;
  // length <= covered * cluster, so every unit started here has clusters.
  for (std::uint64_t position = 0, vcn = 0; position < length; position += unit_bytes, vcn += unit_clusters) {
    const std::size_t wanted = static_cast<std::size_t>(std::min(unit_bytes, length - position));
    const std::uint64_t clusters = std::min(unit_clusters, covered - vcn);
    const std::span<std::uint8_t> out = std::span<std::uint8_t>(m_unit).first(wanted);
    if (all_sparse(extents, vcn, clusters)) {
      if (options.skip_sparse) continue;  // a hole in the file
      zero(out);
    } else if (position >= valid_end) {
      zero(out);
    } else {
      // The whole unit, so that chunks running into its later clusters are
      // there even when only the start of the unit is wanted.
      const std::span<std::uint8_t> raw =
          std::span<std::uint8_t>(m_raw).first(static_cast<std::size_t>(clusters * cluster));
      std::size_t got = 0;
      std::uint32_t flags = 0;
      read_range(extents, position, raw, got, flags);
      if (got != raw.size()) return false;
      std::size_t produced = 0;
      if (!decompress_unit(raw, (flags & range_flag::sparse_read) != 0, out, produced)) return false;
      zero_past(out, position, valid_end);
    }
    if (!emit(sink, out)) return false;
  }
  return true;
}

bool stream_reader::read(const attr_record& attribute, stream_sink& sink, const stream_read_options& options) {
  if (attribute.header.non_resident) return read(attribute.header, attribute.extents, sink, options);
  m_written = 0;
  support::byte_reader reader(attribute.raw);
  const std::span<const std::uint8_t> value =
      reader.sub(attribute.header.value_offset, attribute.header.value_length);
  if (!reader.ok()) return false;
  return emit(sink, value.first(static_cast<std::size_t>(std::min<std::uint64_t>(value.size(), options.max_bytes))));
}

bool read_stream_range(cluster_source& clusters, const extent_list& extents, std::uint64_t offset_bytes,
                       std::span<std::uint8_t> buffer, std::size_t& size_out, std::uint32_t& flags_in_out) {
  stream_reader reader(clusters);
  return reader.read_range(extents, offset_bytes, buffer, size_out, flags_in_out);
}

bool read_stream(cluster_source& clusters, const attr_record& attribute, stream_sink& sink,
                 const stream_read_options& options) {
  stream_reader reader(clusters);
  return reader.read(attribute, sink, options);
}

bool read_stream_prefix(cluster_source& clusters, const attr_record& attribute, std::size_t max_bytes,
                        std::vector<std::uint8_t>& out) {
  out.clear();
  stream_reader reader(clusters);
  vector_sink sink(out);
  stream_read_options options;
  options.max_bytes = max_bytes;
  if (!reader.read(attribute, sink, options)) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace ntfs
