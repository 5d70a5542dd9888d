// Digest throughput: hashes one file with MD5, SHA-1 and SHA-256 (the
// portable rounds and, where the processor has them, the SHA extensions)
// and with all three together, and prints MB/s (10^6 bytes per second) and
// the digests, so they can be set beside md5sum, sha1sum and sha256sum.
// Speeds are given over processor time (user and system, as /usr/bin/time
// reports it for the tools) and over elapsed time; on a busy machine only
// the first is steady.
//
// Usage: digest_bench FILE [CHUNK_BYTES]
// The file is read in chunks (65536 bytes unless given, the size of one
// 16-cluster read on a volume of 4 KiB clusters) with read(2); the time
// includes the reads, as it does for the coreutils tools.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "support/digest_set.h"
#include "support/digest_text.h"
#include "support/md5.h"
#include "support/sha1.h"
#include "support/sha256.h"

namespace {

// Reads `path` chunk by chunk into `feed`; returns the bytes read, or -1.
template <class feed_function>
long long read_file(const char* path, std::vector<std::uint8_t>& buffer, feed_function&& feed) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) return -1;
  long long total = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      ::close(fd);
      return -1;
    }
    if (got == 0) break;
    feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
    total += got;
  }
  ::close(fd);
  return total;
}

// Processor and elapsed time from construction to seconds().
class stopwatch {
 public:
  stopwatch() : m_cpu_start(std::clock()), m_wall_start(std::chrono::steady_clock::now()) {}
  double cpu_seconds() const { return static_cast<double>(std::clock() - m_cpu_start) / CLOCKS_PER_SEC; }
  double wall_seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall_start).count();
  }

 private:
  std::clock_t m_cpu_start;
  std::chrono::steady_clock::time_point m_wall_start;
};

void print_speed(const char* label, long long bytes, const stopwatch& watch, std::string_view digest_text) {
  const double cpu = watch.cpu_seconds();
  const double wall = watch.wall_seconds();
  std::printf("%-18s %8.1f MB/s cpu %8.1f MB/s wall  %.*s\n", label, static_cast<double>(bytes) / cpu / 1e6,
              static_cast<double>(bytes) / wall / 1e6, static_cast<int>(digest_text.size()), digest_text.data());
}

template <class context>
bool time_one(const char* label, context& c, const char* path, std::vector<std::uint8_t>& buffer) {
  const stopwatch watch;
  const long long total = read_file(path, buffer, [&](std::span<const std::uint8_t> chunk) { c.update(chunk); });
  typename context::digest value;
  c.final(value);
  if (total < 0) return false;
  char text[2 * sizeof value];
  print_speed(label, total, watch, support::digest_hex(value, text));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [CHUNK_BYTES]\n", argv[0]);
    return 2;
  }
  const char* path = argv[1];
  const long chunk = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 65536;
  if (chunk <= 0) {
    std::fprintf(stderr, "bad chunk size\n");
    return 2;
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(chunk));
  std::printf("SHA extensions: %s\n", support::cpu_has_sha_extensions() ? "yes" : "no");

  bool ok = true;
  support::md5 md5;
  ok = ok && time_one("md5", md5, path, buffer);
  support::sha1 sha1_portable(support::digest_engine::portable);
  ok = ok && time_one("sha1 portable", sha1_portable, path, buffer);
  support::sha256 sha256_portable(support::digest_engine::portable);
  ok = ok && time_one("sha256 portable", sha256_portable, path, buffer);
  if (support::cpu_has_sha_extensions()) {
    support::sha1 sha1_fast;
    ok = ok && time_one("sha1 extensions", sha1_fast, path, buffer);
    support::sha256 sha256_fast;
    ok = ok && time_one("sha256 extensions", sha256_fast, path, buffer);
  }

  support::digest_set all;
  all.start(true, true, true);
  const stopwatch watch;
  const long long total = read_file(path, buffer, [&](std::span<const std::uint8_t> c) { all.update(c); });
  all.finish();
  ok = ok && total >= 0;
  if (ok) print_speed("all three at once", total, watch, "");

  if (!ok) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  return 0;
}
