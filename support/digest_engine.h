// Which code computes SHA-1 and SHA-256: the x86 SHA extensions when the
// processor has them, or the portable C++ rounds. Both give the same
// digests; the choice exists so that tests and benches can run the
// portable rounds on a processor that has the extensions.
#pragma once

namespace support {

enum class digest_engine {
  fastest,   // SHA extensions when present, otherwise portable
  portable,  // always the portable rounds
};

// True when this processor runs the SHA extensions (with SSE4.1, which the
// accelerated rounds also use).
inline bool cpu_has_sha_extensions() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1");
#else
  return false;
#endif
}

}  // namespace support
