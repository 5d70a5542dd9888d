// The NTFS volume object: checks the boot sector, derives the cluster and
// record geometry, finds the MFT through its own run list and reads
// records and clusters for the rest of the volume model.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "storage/byte_source.h"
#include "ntfs/cluster_source.h"
#include "ntfs/record_source.h"
#include "ntfs/run_list.h"
#include "support/diagnostics_log.h"

namespace ntfs {

// The fields of the boot sector (the volume's first 512 bytes) that matter.
struct boot_sector {
  std::array<std::uint8_t, 512> bytes{};
  std::uint16_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;  // decoded; 0 for an invalid code
  std::uint64_t total_sectors = 0;
  std::uint64_t mft_lcn = 0;
  std::int8_t clusters_per_record = 0;
};

// Reads the boot sector fields; false unless the OEM id is "NTFS    ".
bool parse_boot_sector(std::span<const std::uint8_t> sector, boot_sector& boot);

class ntfs_volume final : public record_source, public cluster_source {
 public:
  // `source` must outlive the volume; `start_bytes` is the volume's first
  // byte within it.
  ntfs_volume(storage::byte_source& source, std::uint64_t start_bytes, support::diagnostics_log* log = nullptr);

  // Checks the boot sector and reads the MFT's own record once. False when
  // the volume is not NTFS or its geometry or MFT record cannot be used.
  bool validate();
  bool is_validated() const { return m_validated; }

  const boot_sector& boot() const;
  std::uint32_t mft_record_size() const { return m_mft_record_size == 0 ? 1024 : m_mft_record_size; }
  std::uint64_t mft_record_count() const { return m_validated ? m_mft_record_count : 0; }
  std::uint64_t total_clusters() const { return m_total_clusters; }
  std::uint64_t volume_start() const { return m_volume_start; }
  // Byte offset of entry `entry` within the volume; 0 when outside the MFT.
  std::uint64_t byte_offset_of_entry(entry_number entry) const;
  const extent_list& mft_extents() const { return m_mft_extents; }
  const extent_list& bitmap_extents() const;
  const extent_list& mft_bitmap_extents() const;
  std::uint64_t bitmap_size_bytes() const { return m_bitmap_size_bytes; }

  // Reads up to `size` bytes at volume byte `offset`; `size` becomes the
  // count read. False when nothing could be read.
  bool read_at(std::uint64_t offset, void* buffer, std::size_t& size);

  // record_source
  bool is_bare_mft_file() const override { return false; }
  bool record_size(std::uint32_t& size_bytes) override;
  bool read_record(entry_number entry, std::span<std::uint8_t> out, read_intent intent) override;
  std::uint64_t record_capacity() override { return mft_record_count(); }

  // cluster_source
  std::uint32_t cluster_size() const override { return m_cluster_size; }
  std::uint64_t cluster_count() const override { return m_total_clusters; }
  bool read_clusters(std::uint64_t lcn, std::span<std::uint8_t> out) override;

 private:
  bool read_geometry();
  // Copies `out.size()` bytes at volume byte `offset`, which lie in one
  // contiguous MFT run ending at volume byte `run_end`, through the window.
  bool read_mft_piece(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t run_end, read_intent intent);
  bool read_mft_record_zero(std::vector<std::uint8_t>& record);
  // Clusters of the MFT's run list that map, without a hole, to the volume.
  std::uint64_t mapped_mft_clusters() const;

  storage::byte_source& m_source;
  std::uint64_t m_volume_start;
  support::diagnostics_log* m_log;

  boot_sector m_boot;
  bool m_validated = false;
  std::uint32_t m_cluster_size = 0;       // bytes
  std::uint64_t m_total_clusters = 0;
  std::uint32_t m_mft_record_size = 0;    // bytes
  std::uint32_t m_record_allocation = 0;  // bytes between records in the MFT
  std::uint64_t m_mft_file_pos = 0;       // bytes into the volume
  std::uint64_t m_mft_record_count = 0;
  extent_list m_mft_extents;
  extent_list m_mft_bitmap_extents;
  extent_list m_volume_bitmap_extents;
  std::uint64_t m_bitmap_size_bytes = 0;

  // Read-ahead window for sequential record reads.
  std::vector<std::uint8_t> m_window;
  std::uint64_t m_window_offset = 0;  // bytes into the volume
  std::size_t m_window_length = 0;
};

}  // namespace ntfs
