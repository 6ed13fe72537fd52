// Vorbis user comments ("KEY=value", UTF-8) as an Ogg stream hands them over,
// one a line. Decoded values must hold well-formed UTF-16.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "audio/streaming/au_tags.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  pmx::TVorbisTags tags;
  while (!input.empty()) {
    const size_t end = input.find('\n');
    pmx::StoreVorbisComment(tags, input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  for (int i = 0; i < tags.Count(); ++i) {
    const pmx::WideString value = tags.AsWideString(tags.NameAt(i));
    Check(pmx::Utf8ToWide(pmx::WideToUtf8(value)) == value, "decoded text round-trips through UTF-8");
  }
  return 0;
}
