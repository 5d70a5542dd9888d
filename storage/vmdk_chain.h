// A VMware virtual disk made of a base disk and its snapshots: each snapshot
// file holds only the grains written after it was taken, and names its
// parent by the parent's content id (CID). Reads of the virtual disk take
// each grain from the newest disk that holds it; grains no disk holds read
// as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/vmdk_disk.h"
#include "support/utf.h"

namespace storage {

class vmdk_chain {
 public:
  vmdk_chain() = default;
  ~vmdk_chain() = default;
  vmdk_chain(const vmdk_chain&) = delete;
  vmdk_chain& operator=(const vmdk_chain&) = delete;

  // Opens every file (vmdk_disk::open_disk), in any order. False at the
  // first file that does not open, or whose content id another file of the
  // set already has; the same file named twice is taken once.
  bool open_chain(const std::vector<uni::wide_string>& paths);

  enum class add_result { added, same_file, content_id_taken };
  // Adds an opened disk to the set.
  add_result add_disk(std::unique_ptr<vmdk_disk> disk);
  // The disk of the set opened from `path`, or null.
  const vmdk_disk* find_path(const std::string& path) const;
  // The disk of the set with this content id, or null.
  vmdk_disk* find(std::string_view content_id) const;

  // Links every disk to the disk named by its parent content id. False (and
  // not valid) unless the set forms one line from a single base disk
  // (parent content id "ffffffff") to a newest disk: a parent missing from
  // the set, a disk that is its own parent, two base disks, two snapshots
  // of one disk, or a loop.
  bool link_chain();

  bool is_valid() const { return m_valid; }
  vmdk_disk* base() const { return m_base; }
  vmdk_disk* newest() const { return m_newest; }
  std::size_t disk_count() const { return m_disk_count; }

  // Bytes of the virtual disk: the newest disk's capacity; 0 when not valid.
  std::uint64_t capacity() const;
  // Grains of any disk that lie past the end of their file or could not be
  // read, delivered as zeros so far.
  std::uint64_t unreadable_grains() const;

  // Reads up to `length` bytes of the virtual disk at `offset`, cut at the
  // capacity. False when not valid, for a null buffer, a length of 0 or an
  // offset at or past the capacity; otherwise `length` holds the bytes
  // delivered. Compressed grains are inflated; grains that cannot be read
  // are zeros, counted in unreadable_grains().
  bool read(void* buffer, std::size_t& length, std::uint64_t offset);

 private:
  // Keyed by content id in lower case.
  std::map<std::string, std::unique_ptr<vmdk_disk>> m_disks;
  vmdk_disk* m_base = nullptr;
  vmdk_disk* m_newest = nullptr;
  std::size_t m_disk_count = 0;
  bool m_valid = false;
  // The disks from the newest to the base: the order a read asks them in.
  std::vector<vmdk_disk*> m_newest_first;
};

}  // namespace storage
