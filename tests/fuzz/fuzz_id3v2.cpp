// The ID3v2 reader; every text it reads must survive a write and a second read.
#include <cstddef>
#include <cstdint>

#include "audio/streaming/id3v2_tags.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;
using pmx::TId3v2Tags;

namespace {

// Lone surrogates are written as U+FFFD, so texts compare in their UTF-8 form.
std::string Shown(const TId3v2Tags& tags, TId3v2Tags::Row row) {
  const bool narrow = row == TId3v2Tags::kYear || row == TId3v2Tags::kTrack;
  const char* id = tags.Id(row);
  return pmx::WideToUtf8(narrow ? pmx::Latin1ToWide(tags.AsString(id)) : tags.AsWideString(id));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static pmx::fuzz::InputFile file(/*on_disk=*/true);
  const int fd = file.Load(data, size);
  TId3v2Tags tags;
  const bool present = tags.TagPresent(fd);
  Check(lseek(fd, 0, SEEK_CUR) == 0, "TagPresent keeps the position");
  if (!tags.ReadFromFile(fd)) {
    Check(present || lseek(fd, 0, SEEK_CUR) == 0, "a failed header check keeps the position");
    return 0;
  }
  Check(present, "ReadFromFile agrees with TagPresent");
  Check(tags.WriteToFile(fd, true), "write");
  lseek(fd, 0, SEEK_SET);
  TId3v2Tags back;
  Check(back.ReadFromFile(fd), "read back");
  for (int row = 0; row < TId3v2Tags::kRowCount; ++row) {
    const auto r = static_cast<TId3v2Tags::Row>(row);
    if (r != TId3v2Tags::kComment) Check(Shown(back, r) == Shown(tags, r), "frame text reads back");
  }
  return 0;
}
