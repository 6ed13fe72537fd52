#include "platform/hand_over_copy.h"

#include <cstdint>
#include <cstring>

// The sanitizers do not see the stores of intrinsics: under them every copy is a
// memcpy they can check.
#if defined(__SSE2__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define PMX_STREAMING_STORES 1
#include <emmintrin.h>
#endif

namespace pmx {

#ifdef PMX_STREAMING_STORES

namespace {

// Below this a copy stays in the cache: the reader follows soon and finds it there.
constexpr std::size_t kStreamFrom = 4096;

}  // namespace

void HandOverCopy(void* to, const void* from, std::size_t size) {
  auto* out = static_cast<char*>(to);
  auto* in = static_cast<const char*>(from);
  if (size >= kStreamFrom) {
    // Streaming stores need a destination aligned to 16 bytes.
    const std::size_t head = (16 - reinterpret_cast<std::uintptr_t>(out) % 16) % 16;
    std::memcpy(out, in, head);
    out += head;
    in += head;
    size -= head;
    for (; size >= 64; out += 64, in += 64, size -= 64) {
      const auto* src = reinterpret_cast<const __m128i*>(in);
      auto* dst = reinterpret_cast<__m128i*>(out);
      const __m128i a = _mm_loadu_si128(src);
      const __m128i b = _mm_loadu_si128(src + 1);
      const __m128i c = _mm_loadu_si128(src + 2);
      const __m128i d = _mm_loadu_si128(src + 3);
      _mm_stream_si128(dst, a);
      _mm_stream_si128(dst + 1, b);
      _mm_stream_si128(dst + 2, c);
      _mm_stream_si128(dst + 3, d);
    }
    // Streaming stores are weakly ordered: they reach memory before whatever
    // hands the buffer over.
    _mm_sfence();
  }
  std::memcpy(out, in, size);
}

#else

void HandOverCopy(void* to, const void* from, std::size_t size) { std::memcpy(to, from, size); }

#endif

}  // namespace pmx
