#include "ntfs/run_list.h"

#include <algorithm>
#include <limits>

#include "ntfs/attribute_header.h"

namespace ntfs {
namespace {

// Bytes shown after each entry when decoding for display.
constexpr std::size_t k_next_bytes_shown = 3;

constexpr std::uint64_t k_u64_max = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t k_u32_max = std::numeric_limits<std::uint32_t>::max();

// Mask of the low `width_bytes` bytes (1..8); avoids a 64-bit shift for 8.
constexpr std::uint64_t low_bytes_mask(std::size_t width_bytes) {
  return width_bytes >= 8 ? k_u64_max : (std::uint64_t{1} << (8 * width_bytes)) - 1;
}

cluster_extent extent_for_run(std::size_t index, std::uint64_t lcn, std::uint64_t delta,
                              bool has_offset_field, std::uint64_t vcn, std::uint32_t count) {
  cluster_extent extent;
  extent.vcn = vcn;
  extent.count = count;
  if (run_is_sparse(index, delta, has_offset_field)) {
    extent.sparse = 1;
    extent.lcn = 0;
  } else {
    extent.lcn = lcn;
  }
  return extent;
}

bool vcn_less(const cluster_extent& a, const cluster_extent& b) { return a.vcn < b.vcn; }

}  // namespace

run_list_cursor::run_list_cursor(std::span<const std::uint8_t> attribute) {
  support::byte_reader header(attribute);
  m_attribute_type = header.le32(attribute_offset::type);
  const std::uint32_t declared_length = header.le32(attribute_offset::length);
  m_vcn = header.le64(attribute_offset::first_vcn);
  const std::size_t run_list_offset = header.le16(attribute_offset::run_list_offset);
  if (!header.ok()) {
    m_position = header.failed_at();
    stop("attribute header cut short");
    return;
  }
  if (declared_length == 0) {
    stop("attribute length 0");
    return;
  }
  const std::size_t end = std::min<std::size_t>(declared_length, attribute.size());
  m_cut_short = attribute.size() < declared_length;
  // A run list never starts inside the fixed non-resident header.
  if (run_list_offset < non_resident_header_bytes || run_list_offset > end) {
    m_position = attribute_offset::run_list_offset;
    stop("run list offset outside the attribute");
    return;
  }
  m_reader = support::byte_reader(attribute.first(end));
  m_position = run_list_offset;
}

bool run_list_cursor::stop(const char* problem) {
  m_done = true;
  if (problem && !m_problem) m_problem = problem;
  return false;
}

bool run_list_cursor::next(data_run_view& run) {
  if (m_done) return false;
  // Out of bytes with no terminator: normal when the declared attribute ends
  // here, a cut-off list when the caller's buffer ended before it.
  if (!m_reader.fits(m_position, 1)) return stop(m_cut_short ? "list cut off before its terminator" : nullptr);

  const std::uint8_t header = m_reader.u8(m_position);
  if (header == 0) return stop(nullptr);
  const std::size_t count_width = header & 0x0F;
  const std::size_t offset_width = header >> 4;
  if (count_width > 8 || offset_width > 8) return stop("field wider than 8 bytes");
  const std::size_t entry_size = 1 + count_width + offset_width;
  if (!m_reader.fits(m_position, entry_size)) return stop("entry past the attribute end");

  support::byte_reader entry(m_reader.sub(m_position, entry_size));
  const std::uint64_t count = entry.le_n(1, count_width);
  const std::uint64_t offset_field = entry.le_n(1 + count_width, offset_width);
  if (!entry.ok() || !m_reader.ok()) return stop("entry past the attribute end");
  if (count > k_u32_max) return stop("count above 2^32 - 1 clusters");

  // The offset field is a signed little-endian integer of offset_width
  // bytes; its sign is the top bit of its last byte.
  bool negative = false;
  std::uint64_t delta = offset_field;
  std::uint64_t lcn = m_lcn;
  if (offset_width > 0 && ((offset_field >> (8 * offset_width - 1)) & 1) != 0) {
    negative = true;
    delta = (~offset_field + 1) & low_bytes_mask(offset_width);  // two's-complement magnitude
    if (delta > lcn) return stop("LCN below 0");
    lcn -= delta;
  } else {
    if (delta > k_u64_max - lcn) return stop("LCN past 2^64 - 1");
    lcn += delta;
  }
  if (offset_width > 0 && count > k_u64_max - lcn) return stop("run end past LCN 2^64 - 1");
  if (count > k_u64_max - m_vcn) return stop("VCN past 2^64 - 1");

  run.lcn = lcn;
  run.delta = delta;
  run.vcn = m_vcn;
  run.run_offset = m_position;
  run.count = static_cast<std::uint32_t>(count);
  run.index = m_index;
  run.negative = negative;
  run.has_offset_field = offset_width > 0;
  run.raw_bytes = entry.bytes();

  m_lcn = lcn;
  m_vcn += count;
  m_position += entry_size;
  ++m_index;
  return true;
}

bool decode_run_list(std::span<const std::uint8_t> attribute, data_run_list& runs_out) {
  runs_out.clear();
  run_list_cursor cursor(attribute);
  support::byte_reader bytes(cursor.attribute_bytes());
  data_run_view view;
  while (cursor.next(view)) {
    data_run run;
    run.lcn = view.lcn;
    run.delta = view.delta;
    run.count = view.count;
    run.vcn = view.vcn;
    run.negative = view.negative;
    run.attribute_type = cursor.attribute_type();
    run.run_offset = view.run_offset;
    run.raw_bytes.assign(view.raw_bytes.begin(), view.raw_bytes.end());
    const std::size_t after = static_cast<std::size_t>(view.run_offset) + view.raw_bytes.size();
    if (bytes.fits(after, k_next_bytes_shown)) {
      const auto next = bytes.sub(after, k_next_bytes_shown);
      run.next_bytes.assign(next.begin(), next.end());
    }
    run.has_offset_field = view.has_offset_field;
    runs_out.push_back(std::move(run));
  }
  return !cursor.malformed();
}

void runs_to_extents(const data_run_list& runs, extent_list& extents_out) {
  extents_out.clear();
  extents_out.reserve(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const data_run& run = runs[i];
    if (run.resident) continue;
    extents_out.push_back(
        extent_for_run(i, run.lcn, run.delta, run.has_offset_field, run.vcn, run.count));
  }
}

bool decode_extents(std::span<const std::uint8_t> attribute, extent_list& extents_out, run_list_problem* problem) {
  extents_out.clear();
  run_list_cursor cursor(attribute);
  data_run_view view;
  while (cursor.next(view)) {
    extents_out.push_back(extent_for_run(view.index, view.lcn, view.delta, view.has_offset_field,
                                         view.vcn, view.count));
  }
  if (problem && cursor.malformed()) *problem = {cursor.stop_offset(), cursor.problem()};
  return !cursor.malformed();
}

void merge_extents(extent_list& target, const extent_list& more) {
  if (&target != &more) target.insert(target.end(), more.begin(), more.end());
  // A stable sort keeps, among extents of equal vcn, the order they were
  // added in; unique then keeps the first of each group.
  std::stable_sort(target.begin(), target.end(), vcn_less);
  const auto last = std::unique(target.begin(), target.end(),
                                [](const cluster_extent& a, const cluster_extent& b) { return a.vcn == b.vcn; });
  target.erase(last, target.end());
}

void drop_sparse_extents(extent_list& extents) {
  const auto last = std::remove_if(extents.begin(), extents.end(),
                                   [](const cluster_extent& e) { return e.sparse != 0; });
  extents.erase(last, extents.end());
  if (!std::is_sorted(extents.begin(), extents.end(), vcn_less)) {
    std::stable_sort(extents.begin(), extents.end(), vcn_less);
  }
  std::uint64_t vcn = 0;
  for (cluster_extent& extent : extents) {
    extent.vcn = vcn;
    vcn += extent.count;  // at most 2^32 - 1 per extent: cannot wrap in practice
  }
}

std::uint64_t extents_byte_size(const extent_list& extents, std::uint64_t cluster_size_bytes,
                                bool skip_sparse) {
  std::uint64_t clusters = 0;
  for (const cluster_extent& extent : extents) {
    if (skip_sparse && extent.sparse != 0) continue;
    if (extent.count > k_u64_max - clusters) return k_u64_max;
    clusters += extent.count;
  }
  if (cluster_size_bytes != 0 && clusters > k_u64_max / cluster_size_bytes) return k_u64_max;
  return clusters * cluster_size_bytes;
}

bool vcn_to_lcn(const extent_list& extents, std::uint64_t vcn, std::size_t& index_out,
                std::uint64_t& lcn_out) {
  index_out = 0;
  lcn_out = 0;
  for (std::size_t i = 0; i < extents.size(); ++i) {
    const cluster_extent& extent = extents[i];
    if (vcn < extent.vcn || vcn - extent.vcn >= extent.count) continue;
    if (extent.sparse != 0) {
      index_out = i;
      return true;
    }
    const std::uint64_t into = vcn - extent.vcn;
    if (extent.lcn > k_u64_max - into) return false;
    index_out = i;
    lcn_out = extent.lcn + into;
    return true;
  }
  return false;
}

}  // namespace ntfs
