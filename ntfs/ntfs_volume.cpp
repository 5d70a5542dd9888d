#include "ntfs/ntfs_volume.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ntfs/attribute_cursor.h"
#include "ntfs/mft_record.h"
#include "ntfs/record_header.h"
#include "ntfs/record_reader.h"
#include "storage/file_system_guess.h"
#include "support/byte_reader.h"

namespace ntfs {

namespace {

// Boot sector offsets.
constexpr std::size_t boot_oem_id = 3;
constexpr std::size_t boot_bytes_per_sector = 11;
constexpr std::size_t boot_sectors_per_cluster = 13;
constexpr std::size_t boot_total_sectors = 40;
constexpr std::size_t boot_mft_lcn = 48;
constexpr std::size_t boot_clusters_per_record = 64;

constexpr std::uint32_t largest_cluster_bytes = 2u << 20;
constexpr std::uint32_t largest_record_bytes = 64u << 10;
constexpr std::size_t window_bytes = 256 * 1024;

[[noreturn]] void unvalidated(const char* accessor) {
  std::fprintf(stderr, "%s called on a volume that was not validated\n", accessor);
  std::abort();
}

bool power_of_two(std::uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool parse_boot_sector(std::span<const std::uint8_t> sector, boot_sector& boot) {
  if (sector.size() < 512) return false;
  std::copy(sector.begin(), sector.begin() + 512, boot.bytes.begin());
  if (std::memcmp(sector.data() + boot_oem_id, "NTFS    ", 8) != 0) return false;
  support::byte_reader r(sector);
  boot.bytes_per_sector = r.le16(boot_bytes_per_sector);
  boot.sectors_per_cluster = storage::ntfs_sectors_per_cluster(r.u8(boot_sectors_per_cluster));
  boot.total_sectors = r.le64(boot_total_sectors);
  boot.mft_lcn = r.le64(boot_mft_lcn);
  boot.clusters_per_record = static_cast<std::int8_t>(r.u8(boot_clusters_per_record));
  return r.ok();
}

ntfs_volume::ntfs_volume(storage::byte_source& source, std::uint64_t start_bytes, support::diagnostics_log* log)
    : m_source(source), m_volume_start(start_bytes), m_log(log) {}

const boot_sector& ntfs_volume::boot() const {
  if (!m_validated) unvalidated("boot_sector ntfs_volume::boot() const");
  return m_boot;
}

const extent_list& ntfs_volume::bitmap_extents() const {
  if (!m_validated) unvalidated("extent_list ntfs_volume::bitmap_extents() const");
  return m_volume_bitmap_extents;
}

const extent_list& ntfs_volume::mft_bitmap_extents() const {
  if (!m_validated) unvalidated("extent_list ntfs_volume::mft_bitmap_extents() const");
  return m_mft_bitmap_extents;
}

bool ntfs_volume::read_at(std::uint64_t offset, void* buffer, std::size_t& size) {
  if (offset > ~0ULL - m_volume_start) {
    size = 0;
    return false;
  }
  const std::int64_t got = m_source.read_at(m_volume_start + offset, buffer, size);
  size = got > 0 ? static_cast<std::size_t>(got) : 0;
  return got > 0;
}

bool ntfs_volume::read_clusters(std::uint64_t lcn, std::span<std::uint8_t> out) {
  if (m_cluster_size == 0 || out.empty() || out.size() % m_cluster_size != 0) return false;
  if (lcn > (~0ULL / m_cluster_size)) return false;
  std::size_t size = out.size();
  return read_at(lcn * m_cluster_size, out.data(), size) && size == out.size();
}

bool ntfs_volume::read_geometry() {
  std::array<std::uint8_t, 512> sector{};
  std::size_t size = sector.size();
  if (!read_at(0, sector.data(), size) || size < sector.size()) return false;
  if (!parse_boot_sector(sector, m_boot)) return false;
  // Geometry a real volume can have; anything else is a damaged or foreign
  // boot sector that must not drive later reads.
  if (!power_of_two(m_boot.bytes_per_sector) || m_boot.bytes_per_sector < 256 || m_boot.bytes_per_sector > 4096) {
    return false;
  }
  if (m_boot.sectors_per_cluster == 0) return false;
  m_cluster_size = std::uint32_t{m_boot.bytes_per_sector} * m_boot.sectors_per_cluster;
  if (!power_of_two(m_cluster_size) || m_cluster_size > largest_cluster_bytes) return false;
  const int per_record = m_boot.clusters_per_record;
  if (per_record < 0) {
    if (-per_record < 8 || -per_record > 16) return false;
    m_mft_record_size = 1u << -per_record;
  } else {
    if (per_record == 0 || std::uint64_t{static_cast<unsigned>(per_record)} * m_cluster_size > largest_record_bytes) {
      return false;
    }
    m_mft_record_size = static_cast<std::uint32_t>(per_record) * m_cluster_size;
  }
  m_total_clusters = m_boot.total_sectors / m_boot.sectors_per_cluster;
  if (m_boot.mft_lcn >= m_total_clusters && m_total_clusters != 0) return false;
  // Without a sector count nothing bounds the LCN; one whose byte position
  // does not fit in 64 bits would wrap around to some other place.
  if (m_boot.mft_lcn > ~0ULL / m_cluster_size) return false;
  m_mft_file_pos = m_boot.mft_lcn * m_cluster_size;
  return true;
}

bool ntfs_volume::read_mft_record_zero(std::vector<std::uint8_t>& record) {
  record.assign(m_mft_record_size, 0);
  std::size_t size = record.size();
  if (!read_at(m_mft_file_pos, record.data(), size) || size < record.size()) return false;
  const record_header header = parse_record_header(record);
  if (!passes_file_signature_test(header)) return false;
  // A record that declares more strides than the boot sector's size (4096
  // byte records on a volume whose boot sector says 1024) is read again.
  const std::uint32_t implied = record_size_from_count(header.update_sequence_count);
  if (implied > m_mft_record_size) {
    m_mft_record_size = implied;
    record.assign(m_mft_record_size, 0);
    size = record.size();
    if (!read_at(m_mft_file_pos, record.data(), size) || size < record.size()) return false;
    if (!passes_file_signature_test(parse_record_header(record))) return false;
  }
  m_record_allocation = parse_record_header(record).bytes_allocated;
  if (m_record_allocation < m_mft_record_size || m_record_allocation > largest_record_bytes) {
    m_record_allocation = m_mft_record_size;
  }
  return apply_fixups(record) == fixup_result::applied;
}

bool ntfs_volume::validate() {
  if (m_validated) return true;
  if (!read_geometry()) return false;
  std::vector<std::uint8_t> record;
  if (!read_mft_record_zero(record)) return false;

  // First the MFT's own $DATA run list from record 0 itself, so that any
  // extension records of the $MFT can be located; then the full parse.
  attribute_cursor cursor(record, parse_record_header(record).first_attribute_offset);
  attribute_view attribute;
  while (cursor.next(attribute)) {
    const attribute_header& header = attribute.header;
    if (header.type == attribute_type::data && header.non_resident && header.name_length == 0) {
      // Damage here is logged by the full parse of the record below.
      decode_extents(attribute.bytes, m_mft_extents);
      break;
    }
  }
  if (m_mft_extents.empty()) return false;

  record_context context;
  context.source = this;
  context.clusters = this;
  context.record_size = m_mft_record_size;
  context.record_size_known = true;
  context.log = m_log;
  mft_record mft;
  mft.raw = record;
  parse_record_bytes(mft, context, 0, mft.raw, false);
  for (const auto& attribute : mft.attributes) {
    if (attribute.header.type == attribute_type::data && !attribute.named_stream && !attribute.extents.empty()) {
      m_mft_extents = attribute.extents;
    } else if (attribute.header.type == attribute_type::bitmap) {
      m_mft_bitmap_extents = attribute.extents;
    }
  }
  m_mft_record_count = mapped_mft_clusters() * m_cluster_size / m_record_allocation;
  m_validated = true;

  // Record 6, $Bitmap: one bit per cluster of the volume.
  mft_record bitmap;
  context.extension_entry = ~0ULL;
  if (read_file_record(bitmap, context, 6, false)) {
    if (const attr_record* data = bitmap.unnamed_data()) {
      m_volume_bitmap_extents = data->extents;
      m_bitmap_size_bytes = data->header.non_resident ? data->header.real_size : data->header.value_length;
    }
  }
  return true;
}

std::uint64_t ntfs_volume::mapped_mft_clusters() const {
  // Counted from VCN 0 up to the first hole: a gap in the VCNs, a sparse run
  // (the MFT has none) or the volume's end. A damaged run list (a count of
  // 2^32 - 1 clusters, a run far past the end) must not promise records that
  // no read can reach.
  std::uint64_t clusters = 0;
  for (const auto& extent : m_mft_extents) {
    if (extent.vcn != clusters || extent.sparse != 0) break;
    std::uint64_t usable = extent.count;
    if (m_total_clusters != 0) {
      if (extent.lcn >= m_total_clusters) break;
      usable = std::min<std::uint64_t>(usable, m_total_clusters - extent.lcn);
    }
    clusters += usable;
    if (usable < extent.count) break;
  }
  return clusters;
}

bool ntfs_volume::record_size(std::uint32_t& size_bytes) {
  if (!m_validated && !validate()) return false;
  size_bytes = m_mft_record_size;
  return true;
}

std::uint64_t ntfs_volume::byte_offset_of_entry(entry_number entry) const {
  if (entry == 0 && !m_validated) return m_mft_file_pos;
  if (m_cluster_size == 0 || m_record_allocation == 0) return 0;
  if (entry > ~0ULL / m_record_allocation) return 0;
  const std::uint64_t position = entry * m_record_allocation;
  const std::uint64_t vcn = position / m_cluster_size;
  std::size_t index = 0;
  std::uint64_t lcn = 0;
  if (!vcn_to_lcn(m_mft_extents, vcn, index, lcn) || m_mft_extents[index].sparse) return 0;
  // A run past the volume's last cluster would read whatever follows the
  // volume on the disk (the next partition) as MFT records.
  if (m_total_clusters != 0 && lcn >= m_total_clusters) return 0;
  if (lcn > (~0ULL - position % m_cluster_size) / m_cluster_size) return 0;
  return lcn * m_cluster_size + position % m_cluster_size;
}

bool ntfs_volume::read_mft_piece(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t run_end,
                                 read_intent intent) {
  const auto window_holds = [&] {
    return m_window_length != 0 && offset >= m_window_offset && offset + out.size() <= m_window_offset + m_window_length;
  };
  if (!window_holds()) {
    std::size_t size = out.size();
    if (intent == read_intent::random) return read_at(offset, out.data(), size) && size == out.size();
    // Read ahead to the end of this run of the MFT (the next run lies
    // elsewhere on the volume), at most one window.
    const std::size_t wanted =
        static_cast<std::size_t>(std::max<std::uint64_t>(out.size(), std::min<std::uint64_t>(window_bytes, run_end - offset)));
    m_window.resize(wanted);
    std::size_t got = wanted;
    m_window_length = 0;
    if (!read_at(offset, m_window.data(), got)) return false;
    m_window_offset = offset;
    m_window_length = got;
    if (!window_holds()) return false;
  }
  std::memcpy(out.data(), m_window.data() + (offset - m_window_offset), out.size());
  return true;
}

bool ntfs_volume::read_record(entry_number entry, std::span<std::uint8_t> out, read_intent intent) {
  if (!m_validated || out.empty() || m_record_allocation == 0) return false;
  if (entry > (~0ULL - out.size()) / m_record_allocation) return false;
  // A record larger than a cluster may begin at the end of one MFT run and
  // end in the next, so it is put together piece by piece, each piece as far
  // as its run is contiguous on the volume.
  const std::uint64_t position = entry * std::uint64_t{m_record_allocation};  // bytes into the MFT
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = position + done;
    std::size_t index = 0;
    std::uint64_t lcn = 0;
    if (!vcn_to_lcn(m_mft_extents, at / m_cluster_size, index, lcn) || m_mft_extents[index].sparse) return false;
    const cluster_extent& extent = m_mft_extents[index];
    std::uint64_t clusters_left = extent.vcn + extent.count - at / m_cluster_size;
    // A run past the volume's last cluster would read whatever follows the
    // volume on the disk (the next partition) as MFT records.
    if (m_total_clusters != 0) {
      if (lcn >= m_total_clusters) return false;
      clusters_left = std::min(clusters_left, m_total_clusters - lcn);
    }
    if (lcn + clusters_left > ~0ULL / m_cluster_size) return false;
    const std::uint64_t offset = lcn * m_cluster_size + at % m_cluster_size;
    const std::uint64_t run_end = (lcn + clusters_left) * m_cluster_size;
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(out.size() - done, run_end - offset));
    if (!read_mft_piece(offset, out.subspan(done, piece), run_end, intent)) return false;
    done += piece;
  }
  return true;
}

}  // namespace ntfs
