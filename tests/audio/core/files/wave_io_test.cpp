#include "audio/core/files/wave_io.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wave_test_files.h"

namespace pmx {
namespace {

using test::FileBytes;
using test::IdAt;
using test::LE32At;
using test::WaveImage;

const WaveFormatEx kCd = WaveFormatEx::Pcm(44100, 16, 2);

WaveFormatEx ImaAdpcm() {
  WaveFormatEx wfx;
  wfx.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  wfx.set_nChannels(1);
  wfx.set_nSamplesPerSec(8000);
  wfx.set_nAvgBytesPerSec(4055);
  wfx.set_nBlockAlign(256);
  wfx.set_wBitsPerSample(4);
  const uint8_t samplesPerBlock[2] = {0xF9, 0x01};  // 505
  wfx.SetExtra(samplesPerBlock);
  return wfx;
}

std::unique_ptr<TWaveIORecord> Parse(const std::vector<uint8_t>& image, int expect = 0) {
  std::unique_ptr<TWaveIORecord> rec;
  EXPECT_EQ(wioReadInfoFromMemory(rec, image), expect);
  return rec;
}

std::unique_ptr<TWaveIORecord> Create(const std::string& name, const WaveFormatEx& wfx) {
  std::unique_ptr<TWaveIORecord> rec;
  EXPECT_EQ(wioCreateInfo(rec, &wfx), 0);
  EXPECT_EQ(wioCreateFile(rec.get(), name), 0);
  return rec;
}

TEST(WaveIo, OneSecondOfCdSoundIsTheCanonicalHeaderAndData) {
  test::TempDir dir;
  const std::string name = dir / "cd.wav";
  auto rec = Create(name, kCd);
  std::vector<uint8_t> second(176400, 0x5A);
  EXPECT_EQ(wioWrite(rec.get(), second.data(), 100000), 100000);
  EXPECT_EQ(wioWrite(rec.get(), second.data(), 76400), 76400);
  EXPECT_EQ(rec->dwTotalSamples, 44100);
  ASSERT_EQ(wioFinish(rec.get()), 0);
  const std::vector<uint8_t> bytes = FileBytes(name);
  ASSERT_EQ(bytes.size(), 176444u);
  const std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 44);
  const std::vector<uint8_t> canonical = {
      'R', 'I', 'F', 'F', 0x34, 0xB1, 0x02, 0x00, 'W', 'A', 'V', 'E', 'f',  'm',  't',
      ' ', 16,  0,   0,   0,    1,    0,    2,    0,   0x44, 0xAC, 0, 0, 0x10, 0xB1,
      2,   0,   4,   0,   16,   0,    'd',  'a',  't', 'a',  0x10, 0xB1, 0x02, 0x00};
  EXPECT_EQ(header, canonical);
  EXPECT_EQ(rec->dwFileSize, 176444u);
  auto parsed = Parse(bytes);
  EXPECT_EQ(parsed->dwDataBytes, 176400u);
  EXPECT_EQ(parsed->dwTotalSamples, 44100);
}

TEST(WaveIo, ImaAdpcmHasTwentyByteFmtAndFactAfterTheData) {
  test::TempDir dir;
  const std::string name = dir / "ima.wav";
  auto rec = Create(name, ImaAdpcm());
  std::vector<uint8_t> blocks(256 * 3, 0x11);
  ASSERT_EQ(wioWrite(rec.get(), blocks.data(), blocks.size()), 768);
  ASSERT_EQ(wioFinish(rec.get()), 0);
  const std::vector<uint8_t> bytes = FileBytes(name);
  EXPECT_EQ(LE32At(bytes, 16), 20u);
  EXPECT_EQ(IdAt(bytes, 40), "data");
  EXPECT_EQ(LE32At(bytes, 44), 768u);
  EXPECT_EQ(IdAt(bytes, 48 + 768), "fact");
  EXPECT_EQ(LE32At(bytes, 48 + 768 + 8), static_cast<uint32_t>(rec->dwTotalSamples));
  EXPECT_EQ(LE32At(bytes, 4), bytes.size() - 8);
  auto parsed = Parse(bytes);
  EXPECT_EQ(parsed->wfx, ImaAdpcm());
  EXPECT_EQ(parsed->dwDataBytes, 768u);
}

TEST(WaveIo, EmptyRecordingIsAValidFile) {
  test::TempDir dir;
  const std::string name = dir / "empty.wav";
  auto rec = Create(name, kCd);
  ASSERT_EQ(wioFinish(rec.get()), 0);
  const std::vector<uint8_t> bytes = FileBytes(name);
  ASSERT_EQ(bytes.size(), 44u);
  EXPECT_EQ(LE32At(bytes, 4), 36u);
  EXPECT_EQ(LE32At(bytes, 40), 0u);
  EXPECT_EQ(Parse(bytes)->dwTotalSamples, 0);
  EXPECT_TRUE(test::RunProgram({"sox", "-q", name, "-n"}));
}

TEST(WaveIo, CreatingNeverTouchesAnExistingFile) {
  test::TempDir dir;
  const std::string name = dir / "taken.wav";
  test::PutFile(name, {1, 2, 3});
  std::unique_ptr<TWaveIORecord> rec;
  ASSERT_EQ(wioCreateInfo(rec, &kCd), 0);
  EXPECT_EQ(wioCreateFile(rec.get(), name), WIOERR_FILEERROR);
  EXPECT_EQ(FileBytes(name), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(wioWrite(rec.get(), "ab", 2), -1);
}

TEST(WaveIo, SizesReachTheDiskWhileRecording) {
  test::TempDir dir;
  const std::string name = dir / "live.wav";
  const WaveFormatEx wfx = WaveFormatEx::Pcm(8000, 16, 1);
  auto rec = Create(name, wfx);
  EXPECT_EQ(LE32At(FileBytes(name), 4), 36u);  // a valid empty file from the start
  std::vector<uint8_t> tenth(1600, 0);
  for (int i = 0; i < 35; ++i) ASSERT_EQ(wioWrite(rec.get(), tenth.data(), tenth.size()), 1600);
  // 3.5 s written: the sizes on disk were brought up to date at 2 s.
  std::vector<uint8_t> bytes = FileBytes(name);
  EXPECT_EQ(LE32At(bytes, 40), 32000u);
  EXPECT_EQ(LE32At(bytes, 4), 36u + 32000u);
  EXPECT_GE(bytes.size(), 44u + 32000u);
  // Read back as it is now, as after a crash: every byte on disk counts.
  auto parsed = Parse(bytes);
  EXPECT_EQ(parsed->dwDataBytes, (bytes.size() - 44) / 2 * 2);
  ASSERT_EQ(wioFinish(rec.get()), 0);
  EXPECT_EQ(LE32At(FileBytes(name), 40), 56000u);
}

TEST(WaveIo, WritingStopsBeforeTheFileSizeLimit) {
  test::TempDir dir;
  const std::string name = dir / "limit.wav";
  auto rec = Create(name, WaveFormatEx::Pcm(8000, 8, 1));
  rec->MaxFileSize = 44 + 1000;
  std::vector<uint8_t> block(600, 7);
  EXPECT_EQ(wioWrite(rec.get(), block.data(), 600), 600);
  EXPECT_EQ(wioWrite(rec.get(), block.data(), 600), 0);
  EXPECT_EQ(wioWrite(rec.get(), block.data(), 399), 399);  // 999 + pad byte fit
  EXPECT_EQ(wioWrite(rec.get(), block.data(), 2), 0);
  ASSERT_EQ(wioFinish(rec.get()), 0);
  EXPECT_EQ(FileBytes(name).size(), 1044u);
  EXPECT_EQ(Parse(FileBytes(name))->dwDataBytes, 999u);
}

TEST(WaveIo, InfoTextIsWrittenAfterTheDataAndReadBack) {
  test::TempDir dir;
  const std::string name = dir / "info.wav";
  auto rec = Create(name, WaveFormatEx::Pcm(8000, 8, 1));
  rec->InfoList.SetFieldText(14, "Morning show");  // INAM
  ASSERT_EQ(wioWrite(rec.get(), "abc", 3), 3);
  ASSERT_EQ(wioFinish(rec.get()), 0);
  const std::vector<uint8_t> bytes = FileBytes(name);
  EXPECT_EQ(IdAt(bytes, 48), "LIST");  // after 3 data bytes and the pad
  auto parsed = Parse(bytes);
  EXPECT_EQ(parsed->InfoList.FieldText(14), "Morning show");
  EXPECT_EQ(parsed->dwDataBytes, 3u);
}

TEST(WaveIo, DataRunsToTheNextChunkOrTheFileEnd) {
  const WaveFormatEx wfx = WaveFormatEx::Pcm(8000, 16, 2);
  auto clamped = Parse(WaveImage().Fmt(wfx).Data(10002, 50000).Bytes());
  EXPECT_EQ(clamped->dwDataBytes, 10000u);
  EXPECT_EQ(clamped->dwTotalSamples, 2500);
  auto listed =
      Parse(WaveImage().Fmt(wfx).Data(1000, 1000).Chunk("LIST", 4, {'I', 'N', 'F', 'O'}).Bytes());
  EXPECT_EQ(listed->dwDataBytes, 1000u);
  // Sizes never written, as a recorder killed at once leaves them.
  auto unwritten = Parse(WaveImage(0xFFFFFFFF).Fmt(wfx).Data(4000, 0).Bytes());
  EXPECT_EQ(unwritten->dwDataBytes, 4000u);
}

TEST(WaveIo, PcmDerivedFieldsAreRecomputed) {
  WaveFormatEx wrong = WaveFormatEx::Pcm(8000, 16, 2);
  wrong.set_nAvgBytesPerSec(12345);
  wrong.set_nBlockAlign(3);
  auto rec = Parse(WaveImage().Fmt(wrong).Data(400, 400).Bytes());
  EXPECT_EQ(rec->wfx.nAvgBytesPerSec(), 32000u);
  EXPECT_EQ(rec->wfx.nBlockAlign(), 4);
}

TEST(WaveIo, MalformedFilesAreRefusedWithTheirCode) {
  const WaveFormatEx wfx = WaveFormatEx::Pcm(8000, 16, 2);
  Parse(WaveImage().Data(100, 100).Bytes(), WIOERR_FORMAT);
  std::vector<uint8_t> notWave = WaveImage().Fmt(wfx).Bytes();
  notWave[8] = 'X';
  Parse(notWave, WIOERR_FILEERROR);
  Parse({'R', 'I', 'F'}, WIOERR_FILEERROR);
  WaveFormatEx zeroAlign = ImaAdpcm();
  zeroAlign.set_nBlockAlign(0);
  Parse(WaveImage().Fmt(zeroAlign, 20).Data(100, 100).Bytes(), WIOERR_FORMAT);
  Parse(WaveImage().Fmt(WaveFormatEx::Pcm(8000, 4, 1)).Data(100, 100).Bytes(), WIOERR_FORMAT);
  Parse(WaveImage().Fmt(WaveFormatEx::Pcm(0, 16, 1)).Data(100, 100).Bytes(), WIOERR_FORMAT);
  Parse(WaveImage().Fmt(wfx, 12).Data(100, 100).Bytes(), WIOERR_FORMAT);
  WaveFormatEx missingExtra = ImaAdpcm();
  missingExtra.set_cbSize(40);
  Parse(WaveImage().Fmt(missingExtra, 20).Data(100, 100).Bytes(), WIOERR_FORMAT);
}

TEST(WaveIo, TruncatedFilesParseWhatIsThere) {
  const std::vector<uint8_t> whole =
      WaveImage().Fmt(WaveFormatEx::Pcm(8000, 16, 1)).Data(1000, 1000).Bytes();
  for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
    const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    std::unique_ptr<TWaveIORecord> rec;
    const int result = wioReadInfoFromMemory(rec, part);
    if (cut < 36) {
      EXPECT_NE(result, 0) << cut;
      continue;
    }
    ASSERT_EQ(result, 0) << cut;
    EXPECT_EQ(rec->dwDataBytes, cut < 44 ? 0 : (cut - 44) / 2 * 2) << cut;
  }
}

TEST(WaveIo, OversizedListsStayInsideTheFile) {
  const WaveFormatEx wfx = WaveFormatEx::Pcm(8000, 8, 1);
  // A list claiming 4 GiB before the format; its fields claim more than is there.
  std::vector<uint8_t> fields = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0xFF, 0xFF, 0xFF, 0xFF,
                                 'h', 'i'};
  auto rec = Parse(WaveImage().Chunk("LIST", 0xFFFFFFFF, fields).Bytes(), WIOERR_FORMAT);
  auto after = Parse(WaveImage().Fmt(wfx).Data(10, 10).Chunk("LIST", 0xFFFFFFFF, fields).Bytes());
  EXPECT_EQ(after->dwDataBytes, 10u);
  auto inside = Parse(WaveImage(0xFFFFFFF0).Fmt(wfx).Chunk("LIST", 0xFFFFFFFF, fields).Bytes());
  EXPECT_EQ(inside->InfoList.FieldText(14), "hi");
  auto disp = Parse(WaveImage().Fmt(wfx).Chunk("DISP", 0xFFFFFFFF, {1, 0, 0, 0, 'x'}).Bytes());
  ASSERT_EQ(disp->DispList.Items().size(), 1u);
  EXPECT_EQ(disp->DispList.Items()[0].Data, (std::vector<uint8_t>{'x'}));
}

TEST(WaveIo, ReadingAndSeekingStayInTheRange) {
  const std::vector<uint8_t> image =
      WaveImage().Fmt(WaveFormatEx::Pcm(8000, 8, 1)).Data(1000, 1000).Bytes();
  auto rec = Parse(image);
  ASSERT_EQ(wioReopen(rec.get()), 0);
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(wioRead(rec.get(), buffer.data(), 4096), 1000);
  EXPECT_EQ(buffer[999], static_cast<uint8_t>(999));
  EXPECT_EQ(rec->dwPosition, 1000);
  EXPECT_EQ(wioRead(rec.get(), buffer.data(), 4096), -1);
  EXPECT_EQ(rec->dwPosition, 1000);
  ASSERT_EQ(wioSeek(rec.get(), 5000), 0);
  EXPECT_EQ(rec->dwPosition, 999);
  EXPECT_EQ(wioRead(rec.get(), buffer.data(), 10), 1);
  EXPECT_EQ(buffer[0], static_cast<uint8_t>(999));
  ASSERT_EQ(wioSeek(rec.get(), 300), 0);
  EXPECT_EQ(wioRead(rec.get(), buffer.data(), 2), 2);
  EXPECT_EQ(buffer[0], static_cast<uint8_t>(300));
  EXPECT_EQ(wioSeek(rec.get(), -1), WIOERR_FILEERROR);
  EXPECT_EQ(wioFinish(rec.get()), 0);
}

struct ForeignFile {
  std::vector<std::string> command;  // the output name is appended
  uint16_t tag;
  uint32_t rate;
  uint16_t channels;
  int64_t samples;
};

TEST(WaveIo, FilesOfOtherProgramsParse) {
  test::TempDir dir;
  const std::vector<ForeignFile> files = {
      {{"sox", "-n", "-r", "22050", "-c", "2", "-b", "16"}, WAVE_FORMAT_PCM, 22050, 2, 33075},
      {{"sox", "-n", "-r", "8000", "-c", "1", "-b", "8"}, WAVE_FORMAT_PCM, 8000, 1, 12000},
      {{"sox", "-n", "-r", "8000", "-c", "1", "-e", "ima-adpcm"}, WAVE_FORMAT_IMA_ADPCM, 8000, 1,
       12000},
      {{"arecord", "-q", "-D", "null", "-f", "S16_LE", "-r", "16000", "-c", "2", "-s", "24000"},
       WAVE_FORMAT_PCM, 16000, 2, 24000},
  };
  for (const ForeignFile& file : files) {
    const std::string name = dir / "foreign.wav";
    std::filesystem::remove(name);
    std::vector<std::string> argv = file.command;
    argv.push_back(name);
    if (argv[0] == "sox") argv.insert(argv.end(), {"synth", "1.5", "sine", "440"});
    ASSERT_TRUE(test::RunProgram(argv)) << argv[0];
    std::unique_ptr<TWaveIORecord> rec;
    ASSERT_EQ(wioReadInfo(rec, name, FourCC("WAVE"), WIO_MODE_FILE), 0) << argv[0];
    EXPECT_EQ(rec->wfx.wFormatTag(), file.tag);
    EXPECT_EQ(rec->wfx.nSamplesPerSec(), file.rate);
    EXPECT_EQ(rec->wfx.nChannels(), file.channels);
    // A codec's sample count follows from its byte rate; allow a block.
    EXPECT_NEAR(rec->dwTotalSamples, file.samples, file.tag == WAVE_FORMAT_PCM ? 0 : 505);
  }
}

}  // namespace
}  // namespace pmx
