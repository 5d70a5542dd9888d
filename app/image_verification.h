// -verify_image: the digest of a container's whole media, recomputed and
// compared with the one stored at acquisition.
#pragma once

#include <string>

#include "storage/disk_reader.h"

namespace app {

// Reads every byte of `image` and compares its MD5 and SHA-1 with those the
// container stores. True when they agree (a line saying so goes to
// `note`); false after printing the reason on standard error: a mismatch,
// a read failure, or a container that stores no digest.
bool verify_image_digest(storage::disk_reader& image, std::string& note);

}  // namespace app
