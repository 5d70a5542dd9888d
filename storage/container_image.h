// A disk image kept in a container format (E01 sets, split raw segments,
// VHD/VHDX, QCOW2, VMware disks): the virtual disk it stands for, read like
// a plain image. Everything above the disk reader sees only those bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/byte_source.h"

namespace storage {

// A digest the acquisition stored beside the data, e.g. {"MD5", "9e10..."}
// with the hex text in lower case.
struct stored_digest {
  std::string algorithm;
  std::string hex;
};

class container_image : public byte_source {
 public:
  // What the results call this kind of container: "E01", "split raw", ...
  virtual const char* kind_name() const = 0;
  // Acquisition details worth showing (label, value), e.g. the case number.
  virtual std::vector<std::pair<std::string, std::string>> metadata() const { return {}; }
  // Digests of the whole media stored in the container; empty when none.
  virtual std::vector<stored_digest> stored_digests() const { return {}; }

  // Every file the disk is read from: segments, parents, backing files,
  // extents. None of them may ever be written.
  const std::vector<std::string>& member_files() const { return m_member_files; }

  // Pieces (grains, chunks, sectors) that could not be read and were
  // delivered as zeros so far.
  virtual std::uint64_t unreadable_pieces() const { return m_unreadable_pieces; }

  // Reads through read_piece(), at most piece_bytes() at a time after a
  // failure of the whole request: a piece that still fails reads as zeros
  // and is counted, so one bad chunk costs its own bytes, not the request.
  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) override;

 protected:
  // One read of the library behind the container: the bytes read, or -1.
  virtual std::int64_t read_piece(std::uint64_t offset, std::uint8_t* target, std::size_t length) = 0;
  // The container's own unit of damage (a chunk, a sector).
  virtual std::size_t piece_bytes() const { return 512; }

  std::uint64_t m_unreadable_pieces = 0;
  std::vector<std::string> m_member_files;
};

}  // namespace storage
