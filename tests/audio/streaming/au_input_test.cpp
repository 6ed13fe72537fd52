#include "audio/streaming/au_input.h"

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"
#include "tests/support/temp_dir.h"
#include "tests/audio/streaming/fake_streams.h"

namespace pmx {
namespace {

using test::MemoryFileIn;

std::vector<uint8_t> Drain(TAuInput& input, size_t most = 1 << 20) {
  std::vector<uint8_t> out(most);
  bool ended = false;
  out.resize(ReadFull(input, out.data(), static_cast<uint32_t>(most), ended));
  return out;
}

uint8_t ByteOfFrame(int64_t frame) { return static_cast<uint8_t>(frame * 2); }

TEST(AuFileIn, WholeFileThenEndOfData) {
  MemoryFileIn input(100);
  input.Init();
  EXPECT_TRUE(input.Busy());
  EXPECT_EQ(input.Size(), 200);
  EXPECT_EQ(input.GetLengthSamples(), 100);
  EXPECT_EQ(Drain(input).size(), 200u);
  EXPECT_EQ(input.Position(), 200);
  EXPECT_EQ(Drain(input).size(), 0u);
  EXPECT_THROW(input.Init(), EAuException);  // still busy
  input.Flush();
  EXPECT_FALSE(input.Busy());
}

TEST(AuFileIn, WindowOfSamples) {
  MemoryFileIn input(100);
  input.SetStartSample(10);
  input.SetEndSample(19);
  input.Init();
  EXPECT_EQ(input.Size(), 20);  // 10 frames
  const std::vector<uint8_t> data = Drain(input);
  ASSERT_EQ(data.size(), 20u);
  EXPECT_EQ(data.front(), ByteOfFrame(10));
  EXPECT_EQ(data.back(), static_cast<uint8_t>(ByteOfFrame(19) + 1));
  input.Flush();

  // An end beyond the file means to the end: frames 90..99.
  input.SetStartSample(90);
  input.SetEndSample(5000);
  input.Init();
  EXPECT_EQ(input.Size(), 20);
  EXPECT_EQ(Drain(input).size(), 20u);
}

TEST(AuFileIn, LoopStartsOverAndNeverEnds) {
  MemoryFileIn input(10, 7);
  input.SetStartSample(5);
  input.SetLoop(true);
  input.Init();
  const std::vector<uint8_t> data = Drain(input, 35);
  ASSERT_EQ(data.size(), 35u);  // three and a half passes of 10 bytes
  for (size_t i = 0; i < data.size(); ++i) EXPECT_EQ(data[i], ByteOfFrame(5) + i % 10) << i;
}

TEST(AuFileIn, ReadAheadIsServedFirstAndNotCountedTwice) {
  MemoryFileIn input(10, 64);
  input.Init();
  input.Prefetch(30);
  EXPECT_EQ(input.Position(), 0);
  const std::vector<uint8_t> data = Drain(input);
  ASSERT_EQ(data.size(), 20u);  // the whole file, once
  EXPECT_EQ(data[19], 19);
  EXPECT_EQ(input.Position(), 20);
}

TEST(AuFileIn, SeekingAndMovingByPercent) {
  MemoryFileIn input(100);
  input.SetStartSample(20);
  input.SetEndSample(59);  // 40 frames
  input.Init();
  input.MoveByPercent(200);
  EXPECT_EQ(input.Position(), 80);
  EXPECT_EQ(Drain(input).size(), 0u);
  input.MoveByPercent(-200);
  EXPECT_EQ(input.Position(), 0);
  const std::vector<uint8_t> data = Drain(input);  // a seek back after the end reads again
  ASSERT_EQ(data.size(), 80u);
  EXPECT_EQ(data.front(), ByteOfFrame(20));
  EXPECT_FALSE(input.SeekSample(41));
}

TEST(AuFileIn, FormatAndNameErrors) {
  MemoryFileIn input(10);
  input.channels = 0;
  try {
    input.Init();
    FAIL() << "no error";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The input has no valid audio format");
  }
  EXPECT_FALSE(input.Busy());
  const uint8_t* buffer = nullptr;
  uint32_t bytes = 100;
  input.FetchData(buffer, bytes);
  EXPECT_EQ(bytes, 0u);  // the failed Init left the end of data set

  MemoryFileIn unnamed(10);
  unnamed.SetFileName("");
  try {
    unnamed.Init();
    FAIL() << "no error";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The file name is not assigned");
  }
}

TEST(AuFileIn, LengthFigures) {
  MemoryFileIn input(5000);
  EXPECT_EQ(input.GetLengthSeconds(), 5);  // 10000 bytes at 1000 frames of 2 bytes a second
  EXPECT_EQ(input.GetSampleRate(), 1000);
  EXPECT_EQ(input.opens, 1);
}

TEST(AuFileStream, CreatesReadsAndReportsTheSystemText) {
  test::TempDir dir;
  const std::string path = (dir / "out.ogg").string();
  {
    TAuFileStream out(path, TAuFileStream::kCreate);
    EXPECT_EQ(out.Write("abcdef", 6), 6);
    EXPECT_EQ(out.Size(), 6);
  }
  TAuFileStream in(path, 32);  // read, sharing reading
  char buffer[8] = {};
  EXPECT_EQ(in.Seek(2, TStream::soBeginning), 2);
  EXPECT_EQ(in.Read(buffer, 8), 4);
  EXPECT_STREQ(buffer, "cdef");
  EXPECT_EQ(in.Write("x", 1), -1);  // opened for reading only
  try {
    TAuFileStream missing((dir / "none.ogg").string(), 0);
    FAIL() << "opened a missing file";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
}

}  // namespace
}  // namespace pmx
