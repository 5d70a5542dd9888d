// Reading the contents of attribute streams: byte ranges of non-resident
// streams, whole streams (plain, sparse or compressed) into a sink, and the
// first bytes of any stream.
//
// A non-resident stream is addressed by VCN through its extent list; sparse
// extents have no clusters and read as zeros. Compressed streams are read in
// compression units and decompressed (ntfs/lznt1.h). Bytes at or past the
// valid-data (initialized) size were never written and read as zeros, unless
// the stream is read raw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "ntfs/attribute_header.h"
#include "ntfs/cluster_source.h"
#include "ntfs/mft_record.h"
#include "ntfs/run_list.h"

namespace ntfs {

// Receives the bytes of a stream in order, a piece at a time.
class stream_sink {
 public:
  virtual ~stream_sink() = default;
  // False stops the read, which then fails.
  virtual bool write(std::span<const std::uint8_t> bytes) = 0;
  // `length_bytes` zeros of a sparse run. A file sink leaves a hole
  // instead of writing them; by default they are written.
  virtual bool hole(std::uint64_t length_bytes);
};

// Appends everything to a byte vector.
class vector_sink final : public stream_sink {
 public:
  explicit vector_sink(std::vector<std::uint8_t>& target) : m_target(target) {}
  bool write(std::span<const std::uint8_t> bytes) override {
    m_target.insert(m_target.end(), bytes.begin(), bytes.end());
    return true;
  }

 private:
  std::vector<std::uint8_t>& m_target;
};

// Hands every piece to a function.
class callback_sink final : public stream_sink {
 public:
  using function = std::function<bool(std::span<const std::uint8_t>)>;
  explicit callback_sink(function f) : m_function(std::move(f)) {}
  bool write(std::span<const std::uint8_t> bytes) override { return m_function(bytes); }

 private:
  function m_function;
};

// Flags of read_range: bit 0 goes in, the others come out.
namespace range_flag {
inline constexpr std::uint32_t skip_sparse = 0x1;  // in: leave sparse clusters out
inline constexpr std::uint32_t sparse_read = 0x2;  // out: a sparse cluster was read as zeros
inline constexpr std::uint32_t read_done = 0x8;    // out: set by every call
}  // namespace range_flag

struct stream_read_options {
  // Read what is stored: the allocated size (slack included), compressed
  // units as they are on disk, and no zeroing past the valid-data size.
  // Sparse runs still read as zeros.
  bool raw = false;
  // Leave sparse runs out instead of writing zeros for them. For a
  // decompressed stream this drops whole sparse compression units (the holes
  // of the file); the sparse tail of a compressed unit is part of its
  // compression and is not a hole.
  bool skip_sparse = false;
  // Stop after this many bytes of output.
  std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max();
};

// Reads streams of one volume. Holds its buffers (one cluster, one chunk or
// compression unit of raw bytes, one unit of output) from call to call, so a
// reader kept for a walk allocates only when a larger unit first turns up.
class stream_reader {
 public:
  explicit stream_reader(cluster_source& clusters) : m_clusters(clusters) {}

  // Reads the bytes [offset_bytes, offset_bytes + buffer.size()) of the
  // stream described by `extents` into the front of `buffer`. Sparse clusters
  // read as zeros and set range_flag::sparse_read in `flags_in_out`; with
  // range_flag::skip_sparse given they are left out and the bytes of the
  // other clusters follow each other in `buffer` (sparse_read is then not
  // reported). The read stops early at the first VCN no extent covers and at
  // a failed cluster read. `size_out` is the number of bytes written; the
  // result is true when it is above 0. The outgoing flags always hold
  // range_flag::read_done.
  bool read_range(const extent_list& extents, std::uint64_t offset_bytes, std::span<std::uint8_t> buffer,
                  std::size_t& size_out, std::uint32_t& flags_in_out);

  // Reads a whole non-resident stream into `sink`. Its length is the larger
  // of the real and valid-data sizes (the allocated size when raw), cut to
  // the clusters its extents cover from VCN 0 up to the first extent that
  // reaches past the volume's clusters, and to options.max_bytes. Sparse
  // runs of a plain stream reach the sink as holes.
  // A compressed stream (attribute_flag_compressed) is decompressed unit by
  // unit, in units of 2^compression_unit clusters (16 when the header gives
  // none); others are written 16 clusters at a time. False when the header
  // is resident, a cluster read or a unit fails, or the sink refuses data;
  // the sink may then have received part of the stream.
  bool read(const attribute_header& header, const extent_list& extents, stream_sink& sink,
            const stream_read_options& options = {});

  // As above for an attribute of a record; a resident attribute writes its
  // value bytes (at most options.max_bytes of them).
  bool read(const attr_record& attribute, stream_sink& sink, const stream_read_options& options = {});

  // Bytes handed to the sink by the last read().
  std::uint64_t bytes_written() const { return m_written; }
  // The last read() stopped at an extent reaching past the volume's
  // clusters (damage): what follows it was left out.
  bool cut_at_damage() const { return m_cut_at_damage; }

 private:
  struct piece;
  bool next_piece(const extent_list& extents, std::uint64_t position, std::uint64_t end, piece& out);
  std::size_t read_bytes(std::uint64_t lcn, std::uint64_t offset_in_cluster, std::span<std::uint8_t> out);
  bool read_plain(const attribute_header& header, const extent_list& extents, std::uint64_t length,
                  stream_sink& sink, const stream_read_options& options);
  bool read_compressed(const attribute_header& header, const extent_list& extents, std::uint64_t length,
                       std::uint64_t covered_clusters, stream_sink& sink, const stream_read_options& options);
  bool all_sparse(const extent_list& extents, std::uint64_t first_vcn, std::uint64_t clusters);
  bool emit(stream_sink& sink, std::span<const std::uint8_t> bytes);
  bool emit_hole(stream_sink& sink, std::uint64_t length_bytes);

  cluster_source& m_clusters;
  std::vector<std::uint8_t> m_cluster;  // one cluster, for reads that start or end inside one
  std::vector<std::uint8_t> m_raw;      // a chunk of a plain stream, or a raw compression unit
  std::vector<std::uint8_t> m_unit;     // the output of one compression unit
  std::size_t m_hint = 0;               // index of the extent found last
  std::uint64_t m_written = 0;
  bool m_cut_at_damage = false;
};

// One-call forms of the reader above (each allocates its own buffers).
bool read_stream_range(cluster_source& clusters, const extent_list& extents, std::uint64_t offset_bytes,
                       std::span<std::uint8_t> buffer, std::size_t& size_out, std::uint32_t& flags_in_out);
bool read_stream(cluster_source& clusters, const attr_record& attribute, stream_sink& sink,
                 const stream_read_options& options = {});

// The first min(max_bytes, stream length) bytes of a stream, resident or
// not, compressed or not, with sparse runs and bytes past the valid-data size
// as zeros - the bytes that file signatures are matched against. `out` is
// cleared first and left empty on failure.
bool read_stream_prefix(cluster_source& clusters, const attr_record& attribute, std::size_t max_bytes,
                        std::vector<std::uint8_t>& out);

}  // namespace ntfs
