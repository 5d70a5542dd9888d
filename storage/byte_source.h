// Random-access bytes under a volume: an image, a device or a virtual disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace storage {

class byte_source {
 public:
  virtual ~byte_source() = default;
  // Reads up to `length` bytes at absolute byte `offset`; returns the count
  // read (short at the end), or -1 on an I/O error.
  virtual std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  // Size in bytes (0 when unknown).
  virtual std::uint64_t size_bytes() const = 0;
};

}  // namespace storage
