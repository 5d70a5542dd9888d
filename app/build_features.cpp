#include "app/build_features.h"

#include "support/digest_set.h"

// The container libraries are optional: each is compiled in only when the
// build found it (CMakeLists.txt defines the BRINDLE_WITH_ macro).
#ifdef BRINDLE_WITH_LIBEWF
#include <libewf.h>
#endif
#ifdef BRINDLE_WITH_LIBVHDI
#include <libvhdi.h>
#endif
#ifdef BRINDLE_WITH_LIBQCOW
#include <libqcow.h>
#endif
#ifdef BRINDLE_WITH_ZLIB
#include <zlib.h>
#endif

namespace app {

std::string version_report() {
  std::string text = "brindle " BRINDLE_VERSION "\nfeatures:\n";
  const auto feature = [&text](const char* name, const std::string& library) {
    text.append("  ").append(name).append(": ").append(library).push_back('\n');
  };
  feature("md5, sha1, sha256 digests", support::digest_library_text());
#ifdef BRINDLE_WITH_LIBEWF
  feature("E01 images", std::string("libewf ") + libewf_get_version());
#endif
#ifdef BRINDLE_WITH_LIBVHDI
  feature("VHD and VHDX disks", std::string("libvhdi ") + libvhdi_get_version());
#endif
#ifdef BRINDLE_WITH_LIBQCOW
  feature("QCOW2 disks", std::string("libqcow ") + libqcow_get_version());
#endif
#ifdef BRINDLE_WITH_ZLIB
  feature("stream-optimized VMware disks", std::string("zlib ") + zlibVersion());
#endif
  return text;
}

}  // namespace app
