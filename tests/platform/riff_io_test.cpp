#include "platform/riff_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using test::FileBytes;
using test::PutFile;

uint32_t LE32At(const std::vector<uint8_t>& bytes, std::size_t at) { return LoadLE32(&bytes.at(at)); }

std::string Text(const std::vector<uint8_t>& bytes, std::size_t at) {
  return std::string(bytes.begin() + at, bytes.begin() + at + 4);
}

// "RIFF" "WAVE" { "fmt " (16 bytes), "data" (3 bytes + pad), "LIST" "INFO" {} }
void WriteSmallWave(RiffFile& f) {
  RiffChunk riff;
  riff.fccType = FourCC("WAVE");
  ASSERT_EQ(f.CreateChunk(riff, RiffCreate::Riff), RiffResult::Ok);
  RiffChunk fmt;
  fmt.ckid = FourCC("fmt ");
  fmt.cksize = 16;
  ASSERT_EQ(f.CreateChunk(fmt), RiffResult::Ok);
  const uint8_t format[16] = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0};
  ASSERT_EQ(f.Write(format, 16), 16);
  ASSERT_EQ(f.Ascend(fmt), RiffResult::Ok);
  RiffChunk data;
  data.ckid = FourCC("data");
  ASSERT_EQ(f.CreateChunk(data), RiffResult::Ok);
  ASSERT_EQ(f.Write("\x80\x81\x82", 3), 3);
  ASSERT_EQ(f.Ascend(data), RiffResult::Ok);
  EXPECT_EQ(data.cksize, 3u);
  RiffChunk list;
  list.fccType = FourCC("INFO");
  ASSERT_EQ(f.CreateChunk(list, RiffCreate::List), RiffResult::Ok);
  ASSERT_EQ(f.Ascend(list), RiffResult::Ok);
  ASSERT_EQ(f.Ascend(riff), RiffResult::Ok);
}

TEST(RiffIo, CreatedChunksGetTheirSizesAndPadBytesOnDisk) {
  test::TempDir dir;
  RiffFile f;
  ASSERT_EQ(f.Create(dir / "a.wav"), RiffResult::Ok);
  WriteSmallWave(f);
  EXPECT_EQ(f.Position(), 60u);
  ASSERT_EQ(f.Close(), RiffResult::Ok);

  const std::vector<uint8_t> bytes = FileBytes(dir / "a.wav");
  ASSERT_EQ(bytes.size(), 60u);
  EXPECT_EQ(Text(bytes, 0), "RIFF");
  EXPECT_EQ(LE32At(bytes, 4), 52u);
  EXPECT_EQ(Text(bytes, 8), "WAVE");
  EXPECT_EQ(Text(bytes, 12), "fmt ");
  EXPECT_EQ(LE32At(bytes, 16), 16u);
  EXPECT_EQ(Text(bytes, 36), "data");
  EXPECT_EQ(LE32At(bytes, 40), 3u);
  EXPECT_EQ(bytes[46], 0x82);
  EXPECT_EQ(bytes[47], 0);  // pad
  EXPECT_EQ(Text(bytes, 48), "LIST");
  EXPECT_EQ(LE32At(bytes, 52), 4u);
  EXPECT_EQ(Text(bytes, 56), "INFO");
}

TEST(RiffIo, DescendFindsChunksInsideTheirParentAndSkipsPadBytes) {
  test::TempDir dir;
  {
    RiffFile w;
    ASSERT_EQ(w.Create(dir / "a.wav"), RiffResult::Ok);
    WriteSmallWave(w);
  }
  const std::vector<uint8_t> image = FileBytes(dir / "a.wav");
  RiffFile from_file, from_memory;
  ASSERT_EQ(from_file.OpenRead(dir / "a.wav"), RiffResult::Ok);
  ASSERT_EQ(from_memory.OpenMemory(image), RiffResult::Ok);
  for (RiffFile* f : {&from_file, &from_memory}) {
    RiffChunk riff;
    riff.fccType = FourCC("WAVE");
    ASSERT_EQ(f->Descend(riff, nullptr, RiffFind::Riff), RiffResult::Ok);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(f->Position(), 12u);

    RiffChunk list;
    list.fccType = FourCC("INFO");
    ASSERT_EQ(f->Descend(list, &riff, RiffFind::List), RiffResult::Ok);
    EXPECT_EQ(list.dwDataOffset, 56u);
    ASSERT_EQ(f->Ascend(list), RiffResult::Ok);
    RiffChunk after;
    EXPECT_EQ(f->Descend(after, &riff), RiffResult::ChunkNotFound);

    // From the start of the form again: the chunk after the odd one is found.
    ASSERT_EQ(f->Seek(12, SEEK_SET), 12);
    RiffChunk data;
    data.ckid = FourCC("data");
    ASSERT_EQ(f->Descend(data, &riff, RiffFind::Chunk), RiffResult::Ok);
    uint8_t samples[4] = {};
    EXPECT_EQ(f->Read(samples, 4), 4);
    EXPECT_EQ(samples[2], 0x82);
    EXPECT_EQ(samples[3], 0);
    ASSERT_EQ(f->Ascend(data), RiffResult::Ok);
    EXPECT_EQ(f->Position(), 48u);

    // A parent that ends before a chunk hides it.
    ASSERT_EQ(f->Seek(12, SEEK_SET), 12);
    RiffChunk shortened = riff;
    shortened.cksize = 20;
    RiffChunk hidden;
    hidden.ckid = FourCC("data");
    EXPECT_EQ(f->Descend(hidden, &shortened, RiffFind::Chunk), RiffResult::ChunkNotFound);
    EXPECT_EQ(f->Write("x", 1), -1);
  }
}

// Bytes after a data chunk whose body starts at 0 and whose size field says said.
uint64_t DataBytesBefore(const std::string& after, uint64_t said) {
  const std::string file = std::string(said, '\x80') + after;
  const auto read = [&file](uint64_t at, uint8_t* out, std::size_t length) {
    if (at > file.size() || file.size() - at < length) return false;
    std::memcpy(out, file.data() + at, length);
    return true;
  };
  return DataChunkBytes(read, 0, said, file.size());
}

TEST(RiffIo, ADataSizeHoldsOnlyWhereWholeChunksOrTheFileEndFollowIt) {
  const std::string list("LIST\x04\0\0\0INFO", 12);
  const std::string odd_list("LIST\x05\0\0\0INFOx", 13);
  EXPECT_EQ(DataBytesBefore("", 6), 6u);
  EXPECT_EQ(DataBytesBefore(list, 6), 6u);
  EXPECT_EQ(DataBytesBefore(std::string(1, '\0'), 5), 5u) << "only the pad byte follows";
  EXPECT_EQ(DataBytesBefore(std::string(1, '\0') + list, 5), 5u);
  EXPECT_EQ(DataBytesBefore(list, 5), 5u) << "a writer that left out the pad byte";
  EXPECT_EQ(DataBytesBefore(odd_list, 6), 6u) << "the last chunk lacks its pad byte";
  // A killed recording: samples, not chunks, follow the size last written.
  EXPECT_EQ(DataBytesBefore(std::string(100, '\x80'), 0), 100u);
  EXPECT_EQ(DataBytesBefore(std::string(100, '\x80'), 4), 104u);
  EXPECT_EQ(DataBytesBefore(std::string(100, '\x80') + list, 4), 116u) << "no chunk starts at the size said";
  EXPECT_EQ(DataBytesBefore(list.substr(0, 10), 4), 14u) << "a chunk cut short";
  // A size past the end counts only what is there.
  EXPECT_EQ(DataChunkBytes([](uint64_t, uint8_t*, std::size_t) { return false; }, 10, 50, 30), 20u);
  EXPECT_EQ(DataChunkBytes([](uint64_t, uint8_t*, std::size_t) { return false; }, 40, 50, 30), 0u);
}

TEST(RiffIo, CreatingNeverTouchesAnExistingFile) {
  test::TempDir dir;
  const std::vector<uint8_t> recording = {'R', 'I', 'F', 'F', 1, 2, 3};
  PutFile(dir / "rec.wav", recording);
  RiffFile f;
  EXPECT_EQ(f.Create(dir / "rec.wav"), RiffResult::FileExists);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(FileBytes(dir / "rec.wav"), recording);
  EXPECT_EQ(f.Create(dir / "missing" / "rec.wav"), RiffResult::CannotOpen);
  EXPECT_EQ(f.OpenRead(dir.path()), RiffResult::CannotOpen);
  EXPECT_EQ(f.OpenReadWrite(dir.path()), RiffResult::CannotOpen);
}

TEST(RiffIo, AFileBeingWrittenIsHeldUnderAnExclusiveLock) {
  test::TempDir dir;
  RiffFile f;
  ASSERT_EQ(f.Create(dir / "rec.wav"), RiffResult::Ok);
  const int other = ::open((dir / "rec.wav").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
  f.Close();
  EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
}

TEST(RiffIo, ReadWriteFallsBackToReadOnly) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  test::TempDir dir;
  PutFile(dir / "ro.wav", {1, 2, 3, 4});
  ASSERT_EQ(chmod((dir / "ro.wav").c_str(), 0444), 0);
  RiffFile f;
  ASSERT_EQ(f.OpenReadWrite(dir / "ro.wav"), RiffResult::Ok);
  EXPECT_FALSE(f.Writable());
  EXPECT_EQ(f.Write("x", 1), -1);
  uint8_t b[4];
  EXPECT_EQ(f.Read(b, 4), 4);
}

// A new file holding one "data" chunk that is being written.
class RiffDataChunk : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(f.Create(path), RiffResult::Ok);
    data.ckid = FourCC("data");
    ASSERT_EQ(f.CreateChunk(data), RiffResult::Ok);
  }
  test::TempDir dir;
  const std::filesystem::path path = dir / "rec.wav";
  RiffFile f;
  RiffChunk data;
};

TEST_F(RiffDataChunk, SizesThatWouldWrapAreRefused) {
  ASSERT_EQ(f.Write("ab", 2), 2);
  ASSERT_EQ(f.Seek(8 + 0x100000000LL, SEEK_SET), 8 + 0x100000000LL);
  EXPECT_EQ(f.Ascend(data), RiffResult::TooLarge);
  const RiffSizePatch too_large[] = {{data, 0x100000000ULL}};
  EXPECT_EQ(f.PatchSizes(too_large), RiffResult::TooLarge);
  ASSERT_EQ(f.Close(), RiffResult::Ok);
  const std::vector<uint8_t> bytes = FileBytes(path);
  ASSERT_EQ(bytes.size(), 10u);
  EXPECT_EQ(LE32At(bytes, 4), 0u);
}

// However many sizes an update sets, the disk gets one write: a disk that is slow
// over every call is asked once per update.
TEST(RiffIo, PatchedSizesReachTheDiskInOneWriteWithoutMovingThePosition) {
  test::TempDir dir;
  const std::filesystem::path path = dir / "rec.wav";
  RiffFile f;
  ASSERT_EQ(f.Create(path), RiffResult::Ok);
  RiffChunk riff;
  riff.fccType = FourCC("WAVE");
  ASSERT_EQ(f.CreateChunk(riff, RiffCreate::Riff), RiffResult::Ok);
  RiffChunk data;
  data.ckid = FourCC("data");
  ASSERT_EQ(f.CreateChunk(data), RiffResult::Ok);
  const std::vector<uint8_t> block(1000, 0x55);
  ASSERT_EQ(f.Write(block.data(), block.size()), 1000);
  ASSERT_EQ(f.Flush(), RiffResult::Ok);
  const RiffSizePatch sizes[] = {{riff, 1012}, {data, 1000}};
  // The fewest of a few updates: a sanitizer build's type checks write too, now and then.
  uint64_t fewest = UINT64_MAX;
  for (int update = 0; update < 5; ++update) {
    const uint64_t calls = test::WriteCalls();
    ASSERT_EQ(f.PatchSizes(sizes), RiffResult::Ok);
    fewest = std::min(fewest, test::WriteCalls() - calls);
  }
  EXPECT_EQ(fewest, 1u);
  EXPECT_EQ(f.Position(), 1020u);
  // What a reader (or a crash) sees now.
  const std::vector<uint8_t> bytes = FileBytes(path);
  ASSERT_EQ(bytes.size(), 1020u);
  EXPECT_EQ(LE32At(bytes, 4), 1012u);
  EXPECT_EQ(Text(bytes, 8), "WAVE");
  EXPECT_EQ(Text(bytes, 12), "data");
  EXPECT_EQ(LE32At(bytes, 16), 1000u);
  ASSERT_EQ(f.Write("z", 1), 1);
  ASSERT_EQ(f.Ascend(data), RiffResult::Ok);
  ASSERT_EQ(f.Ascend(riff), RiffResult::Ok);
  ASSERT_EQ(f.Close(), RiffResult::Ok);
  EXPECT_EQ(LE32At(FileBytes(path), 4), 1014u);
  EXPECT_EQ(LE32At(FileBytes(path), 16), 1001u);
  EXPECT_EQ(FileBytes(path).size(), 1022u);
}

// Random reads, writes and seeks against a plain byte vector, for every buffer
// size from none to larger than the transfers.
TEST(RiffIo, BufferedTransfersMatchAPlainModel) {
  test::TempDir dir;
  for (std::size_t buffer : {0u, 1u, 7u, 64u, 8192u}) {
    SCOPED_TRACE(buffer);
    const auto path = dir / ("model" + std::to_string(buffer));
    RiffFile f;
    ASSERT_EQ(f.Create(path), RiffResult::Ok);
    ASSERT_EQ(f.SetBuffer(buffer), RiffResult::Ok);
    std::vector<uint8_t> model;
    std::size_t pos = 0;
    std::mt19937 rng(static_cast<unsigned>(buffer) + 1);
    for (int step = 0; step < 3000; ++step) {
      const std::size_t n = rng() % 200;
      switch (rng() % 3) {
        case 0: {
          std::vector<uint8_t> src(n);
          for (auto& b : src) b = static_cast<uint8_t>(rng());
          ASSERT_EQ(f.Write(src.data(), n), static_cast<int64_t>(n));
          if (model.size() < pos + n) model.resize(pos + n, 0);
          std::copy(src.begin(), src.end(), model.begin() + static_cast<std::ptrdiff_t>(pos));
          pos += n;
          break;
        }
        case 1: {
          std::vector<uint8_t> dst(n);
          const std::size_t expect = pos < model.size() ? std::min(n, model.size() - pos) : 0;
          ASSERT_EQ(f.Read(dst.data(), n), static_cast<int64_t>(expect));
          ASSERT_TRUE(std::equal(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(expect),
                                 model.begin() + static_cast<std::ptrdiff_t>(pos)));
          pos += expect;
          break;
        }
        default:
          pos = model.empty() ? 0 : rng() % (model.size() + 1);
          ASSERT_EQ(f.Seek(static_cast<int64_t>(pos), SEEK_SET), static_cast<int64_t>(pos));
      }
      ASSERT_EQ(f.Size(), static_cast<int64_t>(model.size()));
    }
    ASSERT_EQ(f.Close(), RiffResult::Ok);
    EXPECT_EQ(FileBytes(path), model);
  }
}

}  // namespace
}  // namespace pmx
