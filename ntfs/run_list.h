// Run lists of non-resident attributes and the cluster extents made from them.
//
// A non-resident attribute stores where its clusters lie as a run list: a
// packed sequence of entries after the attribute header. Each entry starts
// with a header byte h (0 ends the list); the low nibble L is the width in
// bytes of the cluster count, the high nibble O the width of the signed LCN
// difference to the previous run (the first run's is relative to LCN 0).
// O = 0 means "no clusters on disk": a sparse run.
//
//     21 18 34 56 00   ->  L = 1, O = 2: 0x18 clusters at LCN 0x5634, end
//
// The list is kept in two forms: `data_run` (everything about one entry,
// including its raw bytes, for display) and `cluster_extent` (the plain
// form used to map stream offsets to clusters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support/byte_reader.h"

namespace ntfs {

struct data_run {
  std::uint64_t lcn = 0;    // absolute first LCN after applying the difference
  std::uint64_t delta = 0;  // magnitude of the LCN difference, in clusters
  std::uint32_t count = 0;  // run length in clusters
  std::uint64_t vcn = 0;    // first VCN of the run
  bool negative = false;    // the difference was negative
  std::uint32_t attribute_type = 0;
  std::uint64_t run_offset = 0;             // byte offset of the entry within the attribute
  std::vector<std::uint8_t> raw_bytes;      // the entry's own bytes
  std::vector<std::uint8_t> next_bytes;     // the 3 bytes after the entry, when 3 remain
  bool resident = false;                    // marker standing in for a resident value
  std::uint32_t resident_length = 0;        // value length in bytes (marker only)
  bool has_offset_field = false;            // the entry header declared O > 0
};
using data_run_list = std::vector<data_run>;

// The reading form of one run: 24 bytes, `sparse` is a 0/1 flag.
struct cluster_extent {
  std::uint64_t lcn = 0;
  std::uint64_t vcn = 0;
  std::int32_t sparse = 0;
  std::uint32_t count = 0;  // clusters
};
static_assert(sizeof(cluster_extent) == 24);
using extent_list = std::vector<cluster_extent>;

// One decoded entry as seen by run_list_cursor; `raw_bytes` points into the
// attribute passed to the cursor and is valid as long as that buffer is.
struct data_run_view {
  std::uint64_t lcn = 0;
  std::uint64_t delta = 0;
  std::uint64_t vcn = 0;
  std::uint64_t run_offset = 0;  // bytes from the attribute start
  std::uint32_t count = 0;       // clusters
  std::size_t index = 0;         // position in the list, from 0
  bool negative = false;
  bool has_offset_field = false;
  std::span<const std::uint8_t> raw_bytes;
};

// Allocation-free walk over the run list of a non-resident attribute.
//
// `attribute` is the whole attribute as it sits in the file record. Used
// header fields: type (u32 at 0), length (u32 at 4), first VCN (u64 at 16),
// run-list offset (u16 at 32). The run list ends at the first zero header
// byte or at min(declared length, attribute.size()). The non-resident flag
// (offset 8) is the caller's to check: a resident attribute has no run list.
//
// The walk stops and reports malformed() when:
//   - the attribute is empty, its declared length is 0, it is too short for
//     the header fields, or the run-list offset lies inside the fixed 64-byte
//     header or past the end;
//   - an entry has a field wider than 8 bytes or runs past the end;
//   - a count does not fit in 32 bits;
//   - the LCN would go below 0 or past 2^64 - 1 (including lcn + count for a
//     run with an offset field), or the VCN would pass 2^64 - 1;
//   - the bytes run out without a terminator because `attribute` is shorter
//     than its declared length (the list was cut off).
// Runs returned before the bad entry are valid.
class run_list_cursor {
 public:
  explicit run_list_cursor(std::span<const std::uint8_t> attribute);

  // Fills `run` with the next entry; false at the end of the list or at a
  // malformed entry (then `run` is left untouched).
  bool next(data_run_view& run);
  bool malformed() const { return m_problem != nullptr; }
  // What made the list malformed, and the byte offset within the attribute
  // of the entry (or header field) at fault.
  const char* problem() const { return m_problem; }
  std::size_t stop_offset() const { return m_position; }
  std::uint32_t attribute_type() const { return m_attribute_type; }
  // The bytes the list is read from: the attribute cut to its usable end.
  std::span<const std::uint8_t> attribute_bytes() const { return m_reader.bytes(); }

 private:
  bool stop(const char* problem);  // null: a normal end

  support::byte_reader m_reader;
  std::uint32_t m_attribute_type = 0;
  std::size_t m_position = 0;  // byte offset of the next entry within the attribute
  std::uint64_t m_lcn = 0;
  std::uint64_t m_vcn = 0;
  std::size_t m_index = 0;
  bool m_cut_short = false;  // attribute.size() is less than the declared length
  bool m_done = false;
  const char* m_problem = nullptr;
};

// Which runs become sparse extents. A run with no LCN change is sparse,
// with one exception: the run at index 0 of the list, when its header
// declares an offset field (O > 0) and that field holds 0, really starts at
// LCN 0 (mkntfs writes $Boot's data as 11 02 00: clusters 0 and 1). The
// exception is tied to index 0, not to the first run that happens to carry
// an offset field: every other zero-difference run, with its offset field
// absent or present but zero, is sparse, and so is a first run with O = 0.
inline bool run_is_sparse(std::size_t index, std::uint64_t delta, bool has_offset_field) {
  if (delta != 0) return false;
  return !(index == 0 && has_offset_field);
}

// Decodes every entry into `runs_out` (cleared first). False when the
// attribute is missing, has length 0 or anything listed at run_list_cursor
// is malformed; `runs_out` then holds the runs before the bad entry.
bool decode_run_list(std::span<const std::uint8_t> attribute, data_run_list& runs_out);

// One extent per run, in order, by the run_is_sparse rule. Resident markers
// have no clusters and produce no extent.
void runs_to_extents(const data_run_list& runs, extent_list& extents_out);

// The MFT-walk fast path: decodes straight into extents, reusing the
// capacity of `extents_out`. Same result and same failure rule as
// decode_run_list followed by runs_to_extents.
// `problem`, when given, receives where and why a malformed list stopped.
struct run_list_problem {
  std::size_t offset = 0;  // bytes from the attribute start
  const char* what = "";
};
bool decode_extents(std::span<const std::uint8_t> attribute, extent_list& extents_out,
                    run_list_problem* problem = nullptr);

// Merges the extents of an attribute continued in another file record.
// Result is ordered by vcn; where both lists (or one list twice) have an
// extent at the same vcn, the first one seen - existing extents before new
// ones - wins.
void merge_extents(extent_list& target, const extent_list& more);

// Removes sparse extents and renumbers the rest contiguously from VCN 0, in
// vcn order (used when sparse clusters are to be skipped on extraction).
void drop_sparse_extents(extent_list& extents);

// Sum of counts (non-sparse extents only when `skip_sparse`) times the
// cluster size, in bytes. Saturates at UINT64_MAX when the product does not
// fit, so an overflow never turns into a small size.
std::uint64_t extents_byte_size(const extent_list& extents, std::uint64_t cluster_size_bytes,
                                bool skip_sparse);

// Finds the first extent with vcn <= `vcn` < vcn + count. Sparse: true with
// lcn_out 0. Otherwise lcn_out = vcn - extent.vcn + extent.lcn. False (both
// outputs 0) when no extent covers `vcn` or the LCN would overflow.
bool vcn_to_lcn(const extent_list& extents, std::uint64_t vcn, std::size_t& index_out,
                std::uint64_t& lcn_out);

}  // namespace ntfs
