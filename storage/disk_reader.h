// The byte source under every volume read from an image file or a device.
//
// Sources are opened read-only, always: an examiner's evidence must never be
// written to, so no code path here asks the system for write access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "support/utf.h"

namespace storage {

// The Linux block device of physical drive `drive_number`: "/dev/sd" followed
// by 'a' + N, for N below 20 ("/dev/sda" .. "/dev/sdt"); "" for any other N.
std::string drive_device_path(std::uint32_t drive_number);

// Tags that pick how a disk_reader is opened.
struct physical_drive {
  std::uint32_t number = 0;
};
struct block_device {
  std::string path;  // UTF-8, e.g. "/dev/sdb" or "/dev/loop0"
};
// The files of one VMware sparse disk chain (base disk and snapshots, any
// order), as check_chain (storage/vmdk_chain_check.h) lists them.
struct vmdk_chain_paths {
  std::vector<uni::wide_string> paths;
};

class vmdk_chain;
class container_image;

class disk_reader : public storage::byte_source {
 public:
  enum class source_kind : std::uint32_t { file = 0, drive = 3, vmdk = 4, container = 5, none = 8 };

  // An image file (a "dd" capture of a disk or of one volume), or anything
  // else given by path that reads like one, e.g. a partition device. A
  // container (E01, split raw, VHD/VHDX, QCOW2, VMware) is recognised and
  // read as the disk it holds; one that cannot be used leaves the reader
  // closed with failure() saying why.
  explicit disk_reader(const uni::wide_string& path);
  // Physical drive N through drive_device_path(N). A device that exists but
  // cannot be opened prints "prob opening <path>, error <errno>" on standard
  // error; drive numbers without a device fail quietly.
  explicit disk_reader(physical_drive drive);
  // A device read like a physical drive: every transfer covers whole sectors.
  explicit disk_reader(const block_device& device);
  // The virtual disk of a VMDK chain: size = its capacity in bytes, sector
  // size 512, kind vmdk. Opens nothing and prints nothing when the list is
  // empty or the files do not form one chain (the caller reports "invalid
  // disk collection of snaps "). path() is then the newest disk's path.
  explicit disk_reader(const vmdk_chain_paths& chain);

  virtual ~disk_reader();
  disk_reader(const disk_reader&) = delete;
  disk_reader& operator=(const disk_reader&) = delete;

  bool is_open() const { return m_opened; }
  source_kind kind() const { return m_kind; }
  const uni::wide_string& path() const { return m_wide_path; }
  const std::string& narrow_path() const { return m_narrow_path; }
  // Why a container could not be opened ("" otherwise).
  const std::string& failure() const { return m_failure; }
  // The container behind a source of kind container, else null.
  const container_image* container() const { return m_container.get(); }
  // Grains, chunks and sectors that could not be read so far: delivered as
  // zeros by a container, or failed reads of a plain image or device.
  std::uint64_t unreadable_count() const;
  // -1 unless opened as a physical drive.
  std::int32_t drive_number() const { return m_drive_number; }

  std::uint32_t sector_size() const { return m_sector_size; }

  // Reads up to `length` bytes at absolute byte `offset`. A read reaching
  // past the end is cut at the end. False for a null buffer, a closed
  // source, a length of 0, an offset at or past the end, or an I/O error;
  // on success `length` holds the number of bytes delivered.
  bool read(void* buffer, std::size_t& length, std::uint64_t offset);

  // storage::byte_source
  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override;
  // Total bytes of the source, fixed when it was opened; 0 when not open.
  std::uint64_t size_bytes() const override { return m_opened ? m_size_bytes : 0; }

 private:
  bool open_descriptor(const std::string& utf8_path);
  // pread until `length` bytes or the end; -1 when the first call fails.
  std::int64_t read_fully(std::uint64_t offset, std::uint8_t* target, std::size_t length) const;
  bool read_sectors(std::uint8_t* target, std::size_t& length, std::uint64_t offset);

  uni::wide_string m_wide_path;
  std::string m_narrow_path;
  std::int32_t m_drive_number = -1;
  int m_descriptor = -1;
  std::uint32_t m_sector_size = 512;  // bytes
  source_kind m_kind = source_kind::none;
  bool m_opened = false;
  std::uint64_t m_size_bytes = 0;
  // Whole-sector staging for unaligned device reads; kept between calls.
  std::vector<std::uint8_t> m_sector_buffer;
  // The chain behind a source of kind vmdk; reads go to it.
  std::unique_ptr<vmdk_chain> m_vmdk;
  // The container behind a source of kind container; reads go to it.
  std::unique_ptr<container_image> m_container;
  std::string m_failure;
  std::uint64_t m_failed_reads = 0;
};

}  // namespace storage
