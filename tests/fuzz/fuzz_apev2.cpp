// The APEv2 key set driven by arbitrary keys and values of every kind, read
// through its typed properties and carried over to the other tag sets.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/streaming/au_tags.h"
#include "audio/streaming/id3v1_tags.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

namespace {

pmx::TAuTagValue Value(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.ConsumeIntegral<int>();
    case 1: return in.ConsumeRandomLengthString(64);
    case 2: return pmx::Utf8ToWide(in.ConsumeRandomLengthString(64));
    default: return std::monostate();
  }
}

void ReadEveryProperty(const pmx::TAPEv2Tags& tags) {
  for (int i = 0; i < tags.Count(); ++i) {
    const std::string key = tags.NameAt(i);
    const pmx::TAuTagValue value = tags.GetValue(key);
    if (std::holds_alternative<int>(value)) {
      Check(std::stoi(tags.AsString(key)) == tags.AsInteger(key), "integer text");
    }
    Check(pmx::Latin1ToWide(tags.AsString(key)).size() == tags.AsWideString(key).size(),
          "one 8-bit char per wide char");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  pmx::TAPEv2Tags ape;
  while (in.remaining_bytes() > 0) {
    const std::string key =
        in.ConsumeBool() ? in.ConsumeRandomLengthString(16) : ape.NameAt(in.ConsumeIntegralInRange(0, 30));
    ape.SetValue(key, Value(in));
  }
  ReadEveryProperty(ape);
  pmx::TVorbisTags vorbis;
  vorbis.Assign(ape);
  pmx::TAPEv2Tags back;
  back.Assign(vorbis);
  Check(back.AsWideString("Title") == ape.AsWideString("Title"), "title carried over and back");
  pmx::TId3v1Tags id3;
  id3.Assign(ape);
  static pmx::fuzz::InputFile file;
  Check(id3.WriteToFile(file.Load(nullptr, 0)), "ID3v1 trailer of any values");
  return 0;
}
