// Which sectors a VHD differencing disk holds itself, read from its own
// structures rather than through libvhdi, whose reads get one case wrong:
// libvhdi 20210425 reads the sectors after a set bit up to the end of that
// bitmap byte from the child even when their bits are clear, so a child
// that holds single sectors (not whole 4 KiB pages) would read as zeros
// where it should read its parent.
//
// The VHD format stores every field big-endian. A dynamic or differencing
// disk ends in a 512-byte footer ("conectix") whose data offset points at
// the dynamic disk header ("cxsparse"); that gives the block size and the
// block allocation table (one 32-bit sector number per block, 0xFFFFFFFF
// for a block the disk does not hold). Each block held starts with a sector
// bitmap, padded to whole sectors: bit set = sector held by this disk, the
// block's first sector in the most significant bit of the first byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace storage {

class vhd_block_map {
 public:
  static constexpr std::uint64_t sector_bytes = 512;

  // Reads the footer, header and allocation table of the VHD file open
  // read-only on `descriptor` (kept for the bitmaps, not closed here);
  // false with `failure` set when they cannot be used.
  bool load(int descriptor, const std::string& path, std::string& failure);

  // How many sectors from `sector` on (at most `count`, at least 1) share
  // that sector's state, and in `held` whether this disk holds them. 0 when
  // the block's bitmap cannot be read.
  std::uint64_t run_at(std::uint64_t sector, std::uint64_t count, bool& held);

 private:
  const std::vector<std::uint8_t>* bitmap_of(std::uint64_t block);

  int m_descriptor = -1;
  std::uint64_t m_block_sectors = 0;
  std::uint64_t m_bitmap_bytes = 0;
  std::vector<std::uint32_t> m_table;  // first sector of each block's bitmap
  // Recently read bitmaps, slot = block mod the slot count: a walk reads
  // nearby blocks again and again, and a whole-disk read (carving, digests)
  // must not keep one bitmap per block of a large disk.
  struct cached_bitmap {
    std::uint64_t block = ~std::uint64_t{0};
    std::vector<std::uint8_t> bytes;
  };
  std::array<cached_bitmap, 64> m_bitmaps;
};

}  // namespace storage
