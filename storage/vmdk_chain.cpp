#include "storage/vmdk_chain.h"

#include <algorithm>
#include <cstring>

#include "storage/vmdk_descriptor.h"

namespace storage {

bool vmdk_chain::open_chain(const std::vector<uni::wide_string>& paths) {
  for (const auto& path : paths) {
    auto disk = std::make_unique<vmdk_disk>();
    if (!disk->open_disk(path)) return false;
    if (add_disk(std::move(disk)) == add_result::content_id_taken) return false;
  }
  return !m_disks.empty();
}

vmdk_chain::add_result vmdk_chain::add_disk(std::unique_ptr<vmdk_disk> disk) {
  m_valid = false;
  const std::string key = content_id_key(disk->content_id());
  const auto found = m_disks.find(key);
  if (found != m_disks.end()) {
    return found->second->same_file(*disk) ? add_result::same_file : add_result::content_id_taken;
  }
  m_disks.emplace(key, std::move(disk));
  m_disk_count = m_disks.size();
  return add_result::added;
}

const vmdk_disk* vmdk_chain::find_path(const std::string& path) const {
  for (const auto& [key, disk] : m_disks) {
    if (disk->narrow_path() == path) return disk.get();
  }
  return nullptr;
}

vmdk_disk* vmdk_chain::find(std::string_view content_id) const {
  const auto found = m_disks.find(content_id_key(content_id));
  return found == m_disks.end() ? nullptr : found->second.get();
}

bool vmdk_chain::link_chain() {
  m_valid = false;
  m_base = nullptr;
  m_newest = nullptr;
  m_newest_first.clear();
  for (auto& [key, disk] : m_disks) {
    disk->set_parent(nullptr);
    disk->set_child(nullptr);
  }
  for (auto& [key, disk] : m_disks) {
    if (same_content_id(disk->parent_content_id(), base_parent_content_id)) {
      if (m_base != nullptr) return false;
      m_base = disk.get();
      continue;
    }
    vmdk_disk* parent = find(disk->parent_content_id());
    if (parent == nullptr || parent == disk.get() || parent->child() != nullptr) return false;
    disk->set_parent(parent);
    parent->set_child(disk.get());
  }
  if (m_base == nullptr) return false;
  // Follow the child links from the base; every disk must be on the way,
  // and more steps than there are disks would mean a loop.
  vmdk_disk* disk = m_base;
  std::size_t steps = 1;
  while (disk->child() != nullptr && steps <= m_disk_count) {
    disk = disk->child();
    ++steps;
  }
  if (steps != m_disk_count) return false;
  m_newest = disk;
  for (vmdk_disk* d = m_newest; d != nullptr; d = d->parent()) m_newest_first.push_back(d);
  m_valid = true;
  return true;
}

std::uint64_t vmdk_chain::capacity() const { return m_valid ? m_newest->capacity_bytes() : 0; }

std::uint64_t vmdk_chain::unreadable_grains() const {
  std::uint64_t count = 0;
  for (const auto& [key, disk] : m_disks) count += disk->unreadable_grains();
  return count;
}

bool vmdk_chain::read(void* buffer, std::size_t& length, std::uint64_t offset) {
  const std::uint64_t size = capacity();
  if (!m_valid || buffer == nullptr || length == 0 || offset >= size) return false;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
  auto* out = static_cast<std::uint8_t*>(buffer);

  // Consecutive pieces that come from one file back to back (or are all
  // zeros) are gathered into one run and read with one call: a sequential
  // read of a disk written in order then costs about what a raw image does.
  // Compressed grains are read one at a time.
  vmdk_disk* run_disk = nullptr;
  vmdk_location run_where;
  std::size_t run_start = 0;
  std::size_t run_length = 0;
  const auto flush = [&]() {
    if (run_length == 0) return;
    if (run_disk != nullptr) {
      run_disk->read_stored(run_where, offset + run_start, out + run_start, run_length);
    } else {
      std::memset(out + run_start, 0, run_length);
    }
  };

  std::size_t done = 0;
  while (done < length) {
    const std::uint64_t position = offset + done;
    // Disks of a chain may differ in grain size: the piece ends at the first
    // grain end among the disks asked, so that a newer disk's next grain is
    // never skipped over.
    std::uint64_t piece = length - done;
    vmdk_disk* holder = nullptr;
    vmdk_location where;
    for (vmdk_disk* disk : m_newest_first) {
      piece = std::min(piece, disk->bytes_to_grain_end(position));
      if (disk->map(position, where)) {
        holder = disk;
        break;
      }
    }
    const bool continues =
        run_length > 0 && holder == run_disk &&
        (holder == nullptr || (where.extent == run_where.extent && holder->stored_plainly(where) &&
                               where.file_offset == run_where.file_offset + run_length));
    if (!continues) {
      flush();
      run_disk = holder;
      run_where = where;
      run_start = done;
      run_length = 0;
    }
    run_length += static_cast<std::size_t>(piece);
    done += static_cast<std::size_t>(piece);
  }
  flush();
  return true;
}

}  // namespace storage
