// Preloaded into a brindle run (LD_PRELOAD) to stand for a disk with one bad
// sector: a pread of the file whose path ends in BRINDLE_BAD_FILE fails with
// EIO when the bytes asked for include byte BRINDLE_BAD_OFFSET.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using pread_function = ssize_t (*)(int, void*, size_t, off_t);

bool covers_bad_sector(int descriptor, size_t length, off_t offset) {
  const char* file = std::getenv("BRINDLE_BAD_FILE");
  const char* at = std::getenv("BRINDLE_BAD_OFFSET");
  if (!file || !at) return false;
  const long long bad = std::strtoll(at, nullptr, 0);
  if (bad < offset || bad - offset >= static_cast<long long>(length)) return false;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
  char path[PATH_MAX];
  const ssize_t size = ::readlink(link, path, sizeof path - 1);
  const size_t suffix = std::strlen(file);
  if (size <= 0 || static_cast<size_t>(size) < suffix) return false;
  path[size] = '\0';
  return std::strcmp(path + size - suffix, file) == 0;
}

ssize_t read_or_fail(const char* name, int descriptor, void* buffer, size_t length, off_t offset) {
  if (!covers_bad_sector(descriptor, length, offset)) {
    return reinterpret_cast<pread_function>(::dlsym(RTLD_NEXT, name))(descriptor, buffer, length, offset);
  }
  errno = EIO;
  return -1;
}

}  // namespace

extern "C" ssize_t pread(int descriptor, void* buffer, size_t length, off_t offset) {
  return read_or_fail("pread", descriptor, buffer, length, offset);
}

extern "C" ssize_t pread64(int descriptor, void* buffer, size_t length, off_t offset) {
  return read_or_fail("pread64", descriptor, buffer, length, offset);
}
