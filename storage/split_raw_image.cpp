#include "storage/split_raw_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/file_io.h"

namespace storage {

namespace {

// The position of the segment suffix (after the last dot), or npos.
std::size_t suffix_start(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 >= path.size()) {
    return std::string::npos;
  }
  return dot + 1;
}

bool all_of_range(const std::string& text, std::size_t from, char low, char high) {
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                     [&](char c) { return c >= low && c <= high; });
}

// A guard against a set without end (a name that counts up forever).
constexpr std::size_t max_segments = 100000;

}  // namespace

std::string next_segment_name(const std::string& path) {
  const std::size_t from = suffix_start(path);
  if (from == std::string::npos) return "";
  const bool digits = all_of_range(path, from, '0', '9');
  const bool letters = path.size() - from >= 2 && all_of_range(path, from, 'a', 'z');
  if (!digits && !letters) return "";
  std::string next = path;
  const char low = digits ? '0' : 'a';
  const char high = digits ? '9' : 'z';
  for (std::size_t i = next.size(); i-- > from;) {
    if (next[i] != high) {
      ++next[i];
      return next;
    }
    next[i] = low;
  }
  return "";  // the suffix ran out ("x.999", "x.zz")
}

bool is_first_segment_name(const std::string& path) {
  const std::size_t from = suffix_start(path);
  if (from == std::string::npos) return false;
  const std::string suffix = path.substr(from);
  if (suffix.size() >= 2 && all_of_range(path, from, 'a', 'a')) return true;
  if (suffix.size() < 3 || !all_of_range(path, from, '0', '9')) return false;
  // "000" or "001" (npos for all zeros, the last digit otherwise).
  const std::size_t first_nonzero = suffix.find_first_not_of('0');
  return first_nonzero == std::string::npos || (first_nonzero == suffix.size() - 1 && suffix.back() == '1');
}

split_raw_image::~split_raw_image() {
  for (const segment& part : m_segments) {
    if (part.descriptor >= 0) ::close(part.descriptor);
  }
}

std::unique_ptr<split_raw_image> split_raw_image::open(const std::string& first, std::string& failure) {
  auto image = std::unique_ptr<split_raw_image>(new split_raw_image());
  for (std::string path = first; !path.empty() && uni::file_exists(path); path = next_segment_name(path)) {
    if (image->m_segments.size() >= max_segments) break;
    segment part;
    part.path = path;
    part.descriptor = uni::open_file(path, O_RDONLY, 0404);
    if (part.descriptor < 0) {
      failure = "cannot open segment " + path + ": " + std::strerror(errno);
      return nullptr;
    }
    const off_t end = ::lseek(part.descriptor, 0, SEEK_END);
    part.size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    part.start = image->m_size_bytes;
    image->m_size_bytes += part.size;
    image->m_segments.push_back(part);
    image->m_member_files.push_back(path);
  }
  if (image->m_segments.empty()) {
    failure = "cannot open " + first;
    return nullptr;
  }
  // One name skipped with the set going on after it is a lost segment.
  const std::string after = next_segment_name(image->m_segments.back().path);
  const std::string beyond = after.empty() ? "" : next_segment_name(after);
  if (!beyond.empty() && uni::file_exists(beyond)) {
    failure = "segment " + after + " is missing (" + beyond + " follows it)";
    return nullptr;
  }
  // Every segment but the last has the size of the first.
  const std::uint64_t full = image->m_segments.front().size;
  for (std::size_t i = 1; i + 1 < image->m_segments.size(); ++i) {
    if (image->m_segments[i].size != full) {
      failure = "segment " + image->m_segments[i].path + " holds " + std::to_string(image->m_segments[i].size) +
                " bytes, not " + std::to_string(full) + " like the first: cut or damaged";
      return nullptr;
    }
  }
  if (image->m_segments.size() > 1 && image->m_segments.back().size > full) {
    failure = "segment " + image->m_segments.back().path + " is longer than the first: not one set";
    return nullptr;
  }
  return image;
}

std::int64_t split_raw_image::read_piece(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
  if (offset >= m_size_bytes || length == 0) return 0;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_size_bytes - offset));
  auto* target = static_cast<std::uint8_t*>(buffer);
  // The segment holding `offset`: the last whose start is not after it.
  auto part = std::upper_bound(m_segments.begin(), m_segments.end(), offset,
                               [](std::uint64_t at, const segment& s) { return at < s.start; });
  --part;
  std::size_t done = 0;
  while (done < length && part != m_segments.end()) {
    const std::uint64_t inside = offset + done - part->start;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, part->size - inside));
    const std::int64_t got = uni::pread_fully(part->descriptor, target + done, wanted, inside);
    if (got < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    done += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < wanted) break;  // the segment shrank since it was opened
    ++part;
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace storage
