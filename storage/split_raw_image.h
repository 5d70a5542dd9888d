// A raw image cut into consecutive segment files ("disk.001", "disk.002", ...
// or "disk.aa", "disk.ab", ...), as `split` and most acquisition tools write
// it: the disk is the segments' bytes end to end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/container_image.h"

namespace storage {

// The name of the segment after `path`, or "" when its last dot-separated
// part is not a segment number: digits count up in decimal keeping their
// width ("x.009" -> "x.010"), lower-case letters count up from "aa"
// ("x.az" -> "x.ba").
std::string next_segment_name(const std::string& path);
// True for the first segment of a set: ".000", ".001" or an "a"-only suffix
// of at least two letters (".aa").
bool is_first_segment_name(const std::string& path);

class split_raw_image : public container_image {
 public:
  ~split_raw_image() override;
  // Opens `first` and every following segment that exists, read-only. Null
  // with `failure` set when a segment cannot be opened, one is missing in
  // the middle of the set, or a segment before the last is shorter than the
  // first (a cut copy).
  static std::unique_ptr<split_raw_image> open(const std::string& first, std::string& failure);

  const char* kind_name() const override { return "split raw"; }
  std::int64_t read_piece(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
  std::uint64_t size_bytes() const override { return m_size_bytes; }
  std::size_t segment_count() const { return m_segments.size(); }

 private:
  struct segment {
    std::string path;
    int descriptor = -1;
    std::uint64_t start = 0;  // byte of the disk where the segment begins
    std::uint64_t size = 0;   // bytes
  };
  std::vector<segment> m_segments;
  std::uint64_t m_size_bytes = 0;
};

}  // namespace storage
