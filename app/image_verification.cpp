#include "app/image_verification.h"

#include <cstdio>
#include <vector>

#include "storage/container_image.h"
#include "support/digest_set.h"
#include "support/digest_text.h"

namespace app {

namespace {

std::string hex_of(std::span<const std::uint8_t> digest) {
  char text[2 * 64 + 1];
  return std::string(support::digest_hex(digest, text));
}

}  // namespace

bool verify_image_digest(storage::disk_reader& image, std::string& note) {
  const std::string& path = image.narrow_path();
  const storage::container_image* container = image.container();
  const std::vector<storage::stored_digest> stored =
      container ? container->stored_digests() : std::vector<storage::stored_digest>{};
  if (stored.empty()) {
    std::fprintf(stderr, "error: %s holds no stored digest to verify the image against\n", path.c_str());
    return false;
  }
  bool want_md5 = false;
  bool want_sha1 = false;
  for (const auto& digest : stored) {
    want_md5 = want_md5 || digest.algorithm == "MD5";
    want_sha1 = want_sha1 || digest.algorithm == "SHA-1";
  }
  support::digest_set digests;
  digests.start(want_md5, want_sha1, false);
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
  const std::uint64_t size = image.size_bytes();
  for (std::uint64_t at = 0; at < size;) {
    std::size_t length = buffer.size();
    if (!image.read(buffer.data(), length, at) || length == 0) {
      std::fprintf(stderr, "error: reading %s at byte %llu failed while verifying the image\n", path.c_str(),
                   static_cast<unsigned long long>(at));
      return false;
    }
    digests.update(std::span(buffer).first(length));
    at += length;
  }
  digests.finish();
  // A chunk that fails its own checksum may read as zeros that happen to
  // give the stored digest: the image is not intact all the same.
  if (image.unreadable_count() > 0) {
    std::fprintf(stderr, "error: %s: %llu chunks/sectors unreadable or failing their checksum\n", path.c_str(),
                 static_cast<unsigned long long>(image.unreadable_count()));
    return false;
  }
  for (const auto& digest : stored) {
    const std::string computed =
        digest.algorithm == "MD5" ? hex_of(*digests.md5_value()) : hex_of(*digests.sha1_value());
    if (computed != digest.hex) {
      std::fprintf(stderr, "error: %s: computed %s %s differs from the stored %s\n", path.c_str(),
                   digest.algorithm.c_str(), computed.c_str(), digest.hex.c_str());
      return false;
    }
    if (!note.empty()) note += "; ";
    note += "verified " + digest.algorithm + " " + computed;
  }
  return true;
}

}  // namespace app
