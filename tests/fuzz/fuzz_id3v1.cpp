// The ID3v1 trailer reader; what it reads must write back and read the same.
#include <cstddef>
#include <cstdint>

#include "audio/streaming/id3v1_tags.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static pmx::fuzz::InputFile file;
  const int fd = file.Load(data, size);
  pmx::TId3v1Tags tags;
  const bool present = tags.DetectTag(fd);
  Check(tags.ReadFromFile(fd) == present, "DetectTag agrees with ReadFromFile");
  if (!present) return 0;
  Check(tags.GenreId() >= 0 && tags.GenreId() < 148, "genre id in range");
  Check(tags.WriteToFile(fd), "write to a memory file");
  pmx::TId3v1Tags back;
  Check(back.ReadFromFile(fd), "read back");
  Check(back.Title() == tags.Title() && back.Artist() == tags.Artist() && back.Album() == tags.Album(),
        "texts read back");
  Check(back.Comment() == tags.Comment() && back.Track() == tags.Track(), "comment and track read back");
  Check(back.Genre() == tags.Genre(), "genre reads back");
  return 0;
}
