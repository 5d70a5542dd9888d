// One disk of a VMware chain (a base disk or a snapshot): its descriptor and
// the extents that hold its bytes, end to end.
//
// A monolithic disk (monolithicSparse, streamOptimized) is one hosted sparse
// extent file carrying its descriptor inside. A split disk
// (twoGbMaxExtentSparse, twoGbMaxExtentFlat, monolithicFlat) is a text
// descriptor file naming its extent files, each holding the next part of the
// disk: sparse extents ("disk-s001.vmdk", ...), flat extents holding the raw
// bytes ("disk-f001.vmdk") or ZERO extents that hold nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/vmdk_descriptor.h"
#include "storage/vmdk_sparse_extent.h"
#include "support/utf.h"

namespace storage {

// Where a byte of the disk is stored: which extent, and the file byte that
// map() gave for it.
struct vmdk_location {
  std::size_t extent = 0;
  std::uint64_t file_offset = 0;
};

class vmdk_disk {
 public:
  static constexpr std::uint32_t sector_bytes = 512;

  vmdk_disk() = default;
  ~vmdk_disk();
  vmdk_disk(const vmdk_disk&) = delete;
  vmdk_disk& operator=(const vmdk_disk&) = delete;

  // Opens `path` read-only: a hosted sparse extent ("KDMV") with its
  // embedded descriptor, or a text descriptor and every extent it names
  // (looked for in the descriptor's folder). False when a file cannot be
  // opened or read; failure() then says why when a subformat or one of its
  // extents is at fault ("" for a file that is no VMware disk at all).
  bool open_disk(const uni::wide_string& path);

  bool is_valid() const { return m_valid; }
  const std::string& failure() const { return m_failure; }
  const vmdk_descriptor& descriptor() const { return m_descriptor; }
  const std::string& content_id() const { return m_descriptor.content_id; }
  const std::string& parent_content_id() const { return m_descriptor.parent_content_id; }
  const std::string& encoding() const { return m_descriptor.encoding; }
  const std::string& parent_file_name_hint() const { return m_descriptor.parent_file_name_hint; }
  const uni::wide_string& path() const { return m_wide_path; }
  const std::string& narrow_path() const { return m_narrow_path; }

  std::uint64_t capacity_bytes() const { return m_capacity_bytes; }
  // The extent files a descriptor file names (empty for a monolithic disk).
  const std::vector<std::string>& extent_files() const { return m_extent_files; }
  // True when both objects opened the same file (device and inode).
  bool same_file(const vmdk_disk& other) const;

  // Links in a chain; not owned.
  vmdk_disk* parent() const { return m_parent; }
  vmdk_disk* child() const { return m_child; }
  void set_parent(vmdk_disk* parent) { m_parent = parent; }
  void set_child(vmdk_disk* child) { m_child = child; }

  // Where virtual byte `offset` is stored. False when this disk does not
  // hold it (a grain left to the parent, a ZERO extent, past the extents).
  bool map(std::uint64_t offset, vmdk_location& where);
  // Bytes from `offset` to the end of the piece that maps as one: the grain
  // of a sparse extent, the rest of a flat extent.
  std::uint64_t bytes_to_grain_end(std::uint64_t offset) const;
  // True when the bytes after `where` in its file are the disk's next bytes
  // (plain grains and flat extents), so reads can be joined.
  bool stored_plainly(const vmdk_location& where) const;
  // Copies `length` bytes of virtual byte `offset`, stored at `where`.
  // Bytes past the end of the file or that cannot be read are zeros, and
  // counted in unreadable_grains().
  void read_stored(const vmdk_location& where, std::uint64_t offset, std::uint8_t* target, std::size_t length);
  std::uint64_t unreadable_grains() const { return m_unreadable_grains; }

 private:
  struct extent {
    std::uint64_t start = 0;   // first byte of the disk it holds
    std::uint64_t length = 0;  // bytes of the disk it holds
    std::unique_ptr<vmdk_sparse_extent> sparse;  // SPARSE
    int flat_descriptor = -1;                    // FLAT
    std::uint64_t flat_offset = 0;               // FLAT: file byte of `start`
    std::uint64_t flat_file_bytes = 0;
  };
  bool open_extents(const std::string& text_path);
  const extent* extent_at(std::uint64_t offset, std::size_t& index) const;

  vmdk_descriptor m_descriptor;
  std::vector<extent> m_extents;
  std::uint64_t m_capacity_bytes = 0;
  std::uint64_t m_device = 0;
  std::uint64_t m_inode = 0;
  vmdk_disk* m_parent = nullptr;
  vmdk_disk* m_child = nullptr;
  uni::wide_string m_wide_path;
  std::string m_narrow_path;
  std::string m_failure;
  std::vector<std::string> m_extent_files;
  bool m_opened_file = false;
  bool m_valid = false;
  std::uint64_t m_unreadable_grains = 0;
};

}  // namespace storage
