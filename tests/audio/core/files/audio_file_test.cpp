#include "audio/core/files/audio_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "audio/core/chain/ring_buffer.h"
#include "audio/core/chain/wave_out.h"
#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "audio/core/files/wave_file.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/byte_order.h"
#include "platform/codecs/ms_adpcm.h"
#include "platform/main_loop.h"
#include "tests/support/acm_test_support.h"
#include "tests/support/alsa_file_pcm.h"
#include "tests/support/chain_test_nodes.h"
#include "tests/support/file_bytes.h"
#include "tests/support/player_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_test_files.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using test::EqualAt;
using test::ReadAll;

// A WAV file of format holding data.
void PutWave(const std::filesystem::path& path, const WaveFormatEx& format, const Bytes& data) {
  test::PutFile(path, test::WaveImage()
                          .Fmt(format, static_cast<uint32_t>(format.Bytes().size()))
                          .Chunk("data", static_cast<uint32_t>(data.size()), data)
                          .Bytes());
}

// 8-bit PCM from the high bytes of 16-bit samples.
Bytes To8Bit(const Bytes& pcm16) {
  Bytes out(pcm16.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(pcm16[2 * i + 1] ^ 0x80);
  return out;
}

WaveFormatEx Suggested(uint16_t tag, const WaveFormatEx& pcm) {
  WaveFormatEx codec;
  codec.set_wFormatTag(tag);
  EXPECT_EQ(acmFormatSuggest(nullptr, pcm, codec, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  return codec;
}

class AudioFileTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadACM(); }

  std::string Wave(const std::string& name, const WaveFormatEx& format, const Bytes& data) {
    const std::filesystem::path path = dir_ / name;
    PutWave(path, format, data);
    return path.string();
  }

  test::TempDir dir_;
  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
};

// Playing devices are ALSA file PCMs: what reaches the device is in dir_/out.raw.
class AudioFileDeviceTest : public AudioFileTest {
 protected:
  // The device of the longer plays: four buffers of 100 ms at 8 kHz 16-bit mono,
  // passing what it played on to played_.
  void Connect(TMMWaveOut& out, TMMDSPComponent& source) {
    out.SetCallBackMode(TMMCBMode::cmThread);
    out.SetBufferSize(1600);
    out.SetNumBuffers(4);
    out.SetInput(&source);
    out.SetOutput(&played_);
  }

  test::TestSink played_;
  AlsaWaveDriver driver_{test::FilePcmOptions(dir_)};
  ScopedWaveDriver driver_scope_{driver_};
};

// What reaches the sound device is the decoded file, untouched after the first
// millisecond's ramp in and before the last millisecond.
TEST_F(AudioFileDeviceTest, WavesOfEveryKindReachTheDeviceAsTheirDecodedSamples) {
  const WaveFormatEx mono8k = WaveFormatEx::Pcm(8000, 16, 1);
  const WaveFormatEx stereo = WaveFormatEx::Pcm(22050, 16, 2);
  const Bytes tone = test::TonePcm16(stereo, 1.3);
  const Bytes voice = test::TonePcm16(mono8k, 1.3);
  struct Case {
    const char* name;
    WaveFormatEx stored;
    Bytes data;
    WaveFormatEx played;
    Bytes expected;
  };
  const WaveFormatEx ima = Suggested(WAVE_FORMAT_IMA_ADPCM, mono8k);
  const WaveFormatEx ms = MSADPCMFormat(22050, 2);
  const Bytes imaData = test::Convert(mono8k, ima, voice);
  const Bytes msData = test::Convert(stereo, ms, tone);
  const std::vector<Case> cases = {
      {"pcm16.wav", stereo, tone, stereo, tone},
      {"pcm8.wav", WaveFormatEx::Pcm(8000, 8, 1), To8Bit(voice), WaveFormatEx::Pcm(8000, 8, 1),
       To8Bit(voice)},
      {"ima.wav", ima, imaData, mono8k, test::Convert(ima, mono8k, imaData)},
      {"ms.wav", ms, msData, stereo, test::Convert(ms, stereo, msData)},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "out.raw");
    TMMAudioFile file;
    file.SetFileName(Wave(c.name, c.stored, c.data));
    ASSERT_EQ(file.FileType(), TMMAudioFileType::ftWave) << c.name;
    ASSERT_NE(file.PWaveFormat(), nullptr) << c.name;
    ASSERT_EQ(*file.PWaveFormat(), c.played) << c.name;
    ASSERT_TRUE(test::PlayToEnd(file, 3000, loop_)) << c.name;

    const Bytes heard = test::FileBytes(dir_ / "out.raw");
    const std::size_t ms1 = static_cast<std::size_t>(wfMsToBytes64(&c.played, 1));
    ASSERT_EQ(heard.size(), c.expected.size()) << c.name;
    // The file's own length ends the untouched part: an ADPCM header may claim
    // a little less than its blocks decode to.
    const auto end = static_cast<std::size_t>(wfMsToBytes64(&c.played, file.FileLength() - 1));
    ASSERT_GT(end, c.expected.size() * 9 / 10) << c.name;
    const std::size_t body = end - ms1;
    EXPECT_TRUE(EqualAt(heard, ms1, c.expected, ms1, body)) << c.name;
    const uint8_t silence = c.played.wBitsPerSample() == 8 ? 128 : 0;
    EXPECT_EQ(heard.front(), silence) << c.name;
  }
}

// ADPCM blocks of a size no encoder here writes, as other programs may choose:
// headers any decoder takes and codes from a counter; for Microsoft ADPCM mostly
// small codes, so that its step stays in the range real files keep.
WaveFormatEx OddBlocks(WaveFormatEx f, uint16_t block, uint16_t spb) {
  f.set_nBlockAlign(block);
  f.set_nAvgBytesPerSec(12345);  // made up: nothing may go by it
  StoreLE16(f.MutableExtra().data(), spb);
  return f;
}

Bytes OddBlockData(const WaveFormatEx& f, int blocks) {
  const bool ms = f.wFormatTag() == WAVE_FORMAT_ADPCM;
  constexpr uint8_t kSmallCodes[] = {0x01, 0x23, 0x45, 0xCD, 0xEF, 0x10, 0x32, 0xDC, 0x54, 0xFE};
  Bytes data(std::size_t{f.nBlockAlign()} * blocks);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = ms ? kSmallCodes[i % 10] : static_cast<uint8_t>(i * 37 + i / 7);
  for (int b = 0, channels = f.nChannels(); b < blocks; ++b) {
    uint8_t* block = data.data() + std::size_t{f.nBlockAlign()} * b;
    for (int ch = 0; ch < channels; ++ch) {
      if (ms) {
        block[ch] = static_cast<uint8_t>((b + ch) % kMSADPCMCoefficients);
        StoreLE16(block + channels + 2 * ch, static_cast<uint16_t>(16 + (b * 97 + ch * 31) % 2000));
      } else {
        block[4 * ch + 2] = static_cast<uint8_t>((b * 11 + ch) % 89);
        block[4 * ch + 3] = 0;
      }
    }
  }
  return data;
}

// ADPCM WAVs of other programs, made now by sox and ffmpeg, and ones of block
// sizes built here, play whole and exactly as sox decodes them (but for the
// ramps of the first and last millisecond), however rounded or made up the byte
// rate they announce.
TEST_F(AudioFileDeviceTest, AdpcmOfOtherProgramsPlaysWholeAndAsSoxDecodesIt) {
  if (std::system("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox is not available";
  const bool ffmpeg = std::system("command -v ffmpeg >/dev/null") == 0;
  const std::string source = (dir_ / "source.wav").string();
  ASSERT_TRUE(test::RunProgram({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", source, "synth", "1.3",
                                "sine", "440", "sine", "1234", "gain", "-3"}));
  struct Case {
    std::string name;
    std::vector<std::string> make;  // the command that writes the file; empty for a file built here
  };
  std::vector<Case> cases = {{"sox-ima.wav", {"sox", source, "-e", "ima-adpcm"}},
                             {"sox-ima-mono.wav", {"sox", source, "-c", "1", "-r", "22050", "-e", "ima-adpcm"}},
                             {"sox-ms.wav", {"sox", source, "-e", "ms-adpcm"}}};
  if (ffmpeg) {
    for (const char* codec : {"adpcm_ima_wav", "adpcm_ms"}) {
      cases.push_back({std::string("ffmpeg-") + codec + ".wav",
                       {"ffmpeg", "-loglevel", "error", "-i", source, "-c:a", codec}});
    }
  }
  const WaveFormatEx ima = OddBlocks(Suggested(WAVE_FORMAT_IMA_ADPCM, WaveFormatEx::Pcm(22050, 16, 2)), 200, 193);
  const WaveFormatEx ms = OddBlocks(MSADPCMFormat(11025, 1), 77, 142);
  Wave("odd-ima.wav", ima, OddBlockData(ima, 150));
  Wave("odd-ms.wav", ms, OddBlockData(ms, 90));
  cases.push_back({"odd-ima.wav", {}});
  cases.push_back({"odd-ms.wav", {}});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string wav = (dir_ / c.name).string();
    if (!c.make.empty()) {
      std::vector<std::string> make = c.make;
      make.push_back(wav);
      ASSERT_TRUE(test::RunProgram(make));
    }
    const std::string raw = (dir_ / "sox.raw").string();
    ASSERT_TRUE(test::RunProgram({"sox", wav, "-t", "raw", "-e", "signed-integer", "-b", "16", raw}));
    const Bytes sox = test::FileBytes(raw);
    std::filesystem::remove(dir_ / "out.raw");
    TMMAudioFile file;
    file.SetFileName(wav);
    ASSERT_NE(file.PWaveFormat(), nullptr);
    const WaveFormatEx played = *file.PWaveFormat();
    ASSERT_EQ(played.wFormatTag(), WAVE_FORMAT_PCM);
    ASSERT_EQ(played.wBitsPerSample(), 16);
    const int64_t frames = static_cast<int64_t>(sox.size()) / played.nBlockAlign();
    EXPECT_EQ(file.FileLength(), frames * 1000 / played.nSamplesPerSec());
    ASSERT_TRUE(test::PlayToEnd(file, 3000, loop_));

    const Bytes heard = test::FileBytes(dir_ / "out.raw");
    ASSERT_EQ(heard.size(), sox.size());
    const auto ms1 = static_cast<std::size_t>(wfMsToBytes64(&played, 1));
    const auto end = static_cast<std::size_t>(wfMsToBytes64(&played, file.FileLength() - 1));
    EXPECT_TRUE(EqualAt(heard, ms1, sox, ms1, end - ms1));
  }
  if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not available: its files were not tried";
}

TEST_F(AudioFileTest, LoadingChoosesByContentAndRefusesWhatNoClassReads) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const std::string good = Wave("a.wav", f, Bytes(1600, 1));
  TMMAudioFile file;
  int loads = 0;
  file.OnFileLoaded = [&](TObject*) { ++loads; };
  EXPECT_EQ(file.FileType(), TMMAudioFileType::ftNone);
  file.SetFileName(good);
  file.SetFileName(good);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(file.FileName(), good);
  EXPECT_EQ(file.FileLength(), 100);
  file.SetFileType(TMMAudioFileType::ftMpeg);
  EXPECT_EQ(file.FileType(), TMMAudioFileType::ftWave);

  // No extension is fine when the content is a wave; a wrong one is not.
  std::filesystem::copy_file(good, dir_ / "noext");
  file.SetFileName((dir_ / "noext").string());
  EXPECT_EQ(file.FileType(), TMMAudioFileType::ftWave);
  std::filesystem::copy_file(good, dir_ / "a.txt");
  test::PutFile(dir_ / "empty.wav", {});
  test::PutFile(dir_ / "junk.wav", Bytes(5000, 'x'));
  for (const char* bad : {"a.txt", "empty.wav", "junk.wav"}) {
    try {
      file.SetFileName((dir_ / bad).string());
      ADD_FAILURE() << bad;
    } catch (const EMMAudioError& e) {
      EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
    }
    EXPECT_EQ(file.FileName(), "") << bad;
    EXPECT_EQ(file.FileType(), TMMAudioFileType::ftNone) << bad;
  }
  // Another file taken while a run reads the first: the new one plays whole.
  const Bytes other(3200, 7);
  file.SetFileName(good);
  file.Open(400);
  file.Start();
  std::vector<char> buffer(400);
  bool more = false;
  ASSERT_EQ(file.ReadBuffer(buffer.data(), 400, more), 400);
  file.SetFileName(Wave("b.wav", f, other));
  const Bytes all = ReadAll(file, 400);
  file.Close();
  ASSERT_EQ(all.size(), other.size() + 4);
  EXPECT_TRUE(EqualAt(all, 16, other, 16, other.size() - 32));

  // A missing name closes quietly.
  file.SetFileName(good);
  file.SetFileName((dir_ / "missing.wav").string());
  EXPECT_EQ(file.FileName(), "");
  EXPECT_EQ(file.FileLength(), 0);
}

TEST(FileRegistry, FilterListsEveryClassAndAllTheirPatternsOnce) {
  EXPECT_EQ(
      GetFilterExtensions("MPEG Files (*.mp?;*.atx)|*.mp2;*.mp3;*.atx|Antex Files (*.atx)|*.atx|"
                          "Wave Files(*.wav)|*.wav"),
      "*.mp2;*.mp3;*.atx;*.wav");
  TMMFileRegistry one;
  one.Register(FileClassOf<TMMWaveFile>("TMMWaveFile"), 5);
  one.Register(FileClassOf<TMMWaveFile>("TMMWaveFile"), 0);
  EXPECT_EQ(one.Classes().size(), 1u);
  EXPECT_EQ(one.Filter(true), "Wave Files(*.wav)|*.wav");
  TMMFileClass found;
  EXPECT_TRUE(one.Find(TMMAudioFileType::ftWave, found));
  EXPECT_FALSE(one.Find(TMMAudioFileType::ftVorbis, found));
}

// Runs of the stand-alone road: the silent tail once, panning, seeking.
TEST_F(AudioFileTest, PlayRunsRampInEndOnceWithSilenceAndFollowSeeksAndPanning) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 2);
  const Bytes tone = test::TonePcm16(f, 2.0);
  TMMAudioFile file;
  file.SetFileName(Wave("t.wav", f, tone));
  const std::size_t ms1 = 32;

  const Bytes all = ReadAll(file, 4000);
  ASSERT_EQ(all.size(), tone.size() + 4);
  EXPECT_TRUE(EqualAt(all, ms1, tone, ms1, tone.size() - 2 * ms1));
  EXPECT_EQ(Bytes(all.end() - 4, all.end()), Bytes(4, 0));
  bool more = true;

  // Panned hard right the left channel is silent, and the right untouched.
  file.SetTimePosition(0);
  file.ResetChain();
  file.SetPanning(32768);
  Bytes right = ReadAll(file, 4000);
  file.Close();
  ASSERT_EQ(right.size(), tone.size() + 4);
  for (std::size_t i = ms1; i + ms1 < tone.size(); i += 4) {
    ASSERT_EQ(right[i] | right[i + 1], 0) << i;
    ASSERT_TRUE(EqualAt(right, i + 2, tone, i + 2, 2)) << i;
  }

  // A seek while started: the position counts on from the target, the data too.
  file.SetPanning(0);
  file.Open(4000);
  file.Start();
  std::vector<char> buffer(4000);
  file.ReadBuffer(buffer.data(), 4000, more);
  file.SetTimePosition(1500);
  EXPECT_EQ(file.GetTimePosition(), 1500);
  ASSERT_EQ(file.ReadBuffer(buffer.data(), 3200, more), 3200);
  EXPECT_EQ(file.GetTimePosition(), 1600);
  const std::size_t at = 1500 * 32;
  EXPECT_TRUE(
      EqualAt(Bytes(buffer.begin(), buffer.begin() + 3200), ms1, tone, at + ms1, 3200 - ms1));
  file.Close();
}

// A seek lands inside a compressed block: the run is read on from that block's
// start, silent up to the position, and ends with the file, losing nothing.
TEST_F(AudioFileTest, ASeekInACompressedRecordingPlaysOnToItsEnd) {
  const WaveFormatEx stereo = WaveFormatEx::Pcm(44100, 16, 2);
  const Bytes tone = test::TonePcm16(stereo, 3.0);
  const std::size_t ms1 = static_cast<std::size_t>(wfMsToBytes64(&stereo, 1));
  for (const WaveFormatEx& codec : {Suggested(WAVE_FORMAT_IMA_ADPCM, stereo), MSADPCMFormat(44100, 2)}) {
    SCOPED_TRACE(codec.wFormatTag());
    TMMAudioFile file;
    file.SetFileName(Wave("codec.wav", codec, test::Convert(stereo, codec, tone)));
    const Bytes whole = ReadAll(file, 4096);
    file.Close();
    for (const int64_t ms : {1, 777, 1500, 2990}) {
      SCOPED_TRACE(ms);
      file.Open(4096);
      file.Start();
      std::vector<char> buffer(4096);
      bool more = false;
      file.ReadBuffer(buffer.data(), 4096, more);
      file.SetTimePosition(ms);
      Bytes tail;
      ASSERT_NO_THROW(tail = ReadAll(file, 4096));
      file.Close();
      // Silent up to the position, then from its ramp in on the samples of the whole
      // run up to the fade-out of the file's last millisecond, then the same silence.
      const auto bytes = [&](int64_t at) { return static_cast<std::size_t>(wfMsToBytes64(&stereo, at)); };
      const std::size_t n = whole.size() - bytes(ms + 1);
      ASSERT_GE(tail.size(), n);
      EXPECT_TRUE(std::all_of(tail.begin(), tail.end() - static_cast<long>(n + ms1), [](uint8_t b) { return b == 0; }));
      EXPECT_TRUE(EqualAt(tail, tail.size() - n, whole, whole.size() - n, bytes(file.FileLength() - 1) - bytes(ms + 1)));
      EXPECT_EQ(Bytes(tail.end() - 4, tail.end()), Bytes(4, 0));
    }
  }
}

TEST_F(AudioFileTest, ALoopingPullerHearsTheFileAgainFromItsStart) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 8, 1);
  Bytes data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  TMMAudioFile file;
  file.SetFileName(Wave("l.wav", f, data));
  file.Open(300);
  file.Start();
  WAVEHDR h;
  std::vector<char> buffer(300);
  h.lpData = buffer.data();
  h.LoopFlag = true;
  h.LoopCount = 0;
  Bytes all;
  int restarts = 0;
  for (int i = 0; i < 12; ++i) {
    h.dwBufferLength = 300;
    h.LoopRestart = false;
    bool more = false;
    file.BufferLoad(&h, more);
    ASSERT_TRUE(more);
    restarts += h.LoopRestart;
    all.insert(all.end(), buffer.begin(), buffer.begin() + h.dwBytesRecorded);
  }
  file.Close();
  // Four buffers a pass (300, 300, 300, 100): three whole passes.
  ASSERT_EQ(all.size(), 3000u);
  EXPECT_EQ(restarts, 3);
  // Each pass starts with the 1 ms ramp in again (8 bytes).
  for (std::size_t pass : {0, 1000, 2000})
    EXPECT_TRUE(EqualAt(all, pass + 8, data, 8, 984)) << pass;
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

// A recording of several hours: positions past 2 GiB of data play from the right
// place and count on correctly.
TEST_F(AudioFileTest, HoursIntoALongRecordingPlayFromTheRightByte) {
  const WaveFormatEx f = WaveFormatEx::Pcm(44100, 16, 2);
  constexpr uint32_t kDataBytes = 0xD0000000u;  // about 5.5 hours
  const std::filesystem::path path = dir_ / "long.wav";
  test::PutFile(path, test::WaveImage().Fmt(f).Chunk("data", kDataBytes, {}).Bytes());
  const auto header = static_cast<int64_t>(std::filesystem::file_size(path));
  constexpr int64_t kTarget = 5LL * 3600 * 1000;
  const int64_t at = kTarget * 176400 / 1000;
  Bytes mark(176400);
  for (std::size_t i = 0; i < mark.size(); ++i) mark[i] = static_cast<uint8_t>(i * 13 + 1);
  {
    std::FILE* out = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(::fseeko(out, header + at, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(mark.data(), 1, mark.size(), out), mark.size());
    std::filesystem::resize_file(path, header + kDataBytes);
    std::fclose(out);
  }
  std::filesystem::resize_file(path, header + kDataBytes);

  TMMAudioFile file;
  file.SetFileName(path.string());
  EXPECT_EQ(file.FileLength(), int64_t{kDataBytes} * 1000 / 176400);
  file.SetTimePosition(kTarget);
  file.Open(176400);
  file.Start();
  EXPECT_EQ(file.GetTimePosition(), kTarget);
  std::vector<char> buffer(176400);
  bool more = false;
  ASSERT_EQ(file.ReadBuffer(buffer.data(), 176400, more), 176400);
  EXPECT_TRUE(more);
  EXPECT_EQ(file.GetTimePosition(), kTarget + 1000);
  EXPECT_TRUE(EqualAt(Bytes(buffer.begin(), buffer.end()), 176, mark, 176, mark.size() - 176));
  file.Close();
}

// Damaged files and files that change under the player: what is there plays,
// nothing crashes, the run ends.
TEST_F(AudioFileTest, DamagedAndVanishingFilesPlayWhatTheyHoldAndEnd) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const Bytes tone = test::TonePcm16(f, 10.0);  // more than the read-ahead
  const std::filesystem::path cut = dir_ / "cut.wav";
  test::PutFile(
      cut,
      test::WaveImage().Fmt(f).Chunk("data", static_cast<uint32_t>(tone.size() * 4), tone).Bytes());
  TMMAudioFile file;
  file.SetFileName(cut.string());
  Bytes all = ReadAll(file, 1000);
  file.Close();
  ASSERT_EQ(all.size(), tone.size() + 4);
  EXPECT_TRUE(EqualAt(all, 16, tone, 16, tone.size() - 32));

  // Removed while playing: an open file outlives its name and plays to the end.
  const std::string gone = Wave("gone.wav", f, tone);
  TMMAudioFile player;
  player.SetFileName(gone);
  std::vector<char> buffer(1000);
  bool more = false;
  player.Open(1000);
  player.Start();
  ASSERT_EQ(player.ReadBuffer(buffer.data(), 1000, more), 1000);
  std::filesystem::remove(gone);
  all = ReadAll(player, 1000);
  player.Close();
  ASSERT_EQ(all.size(), tone.size() - 1000 + 4);
  EXPECT_TRUE(EqualAt(all, 0, tone, 1000, all.size() - 4 - 16));

  // Cut short while playing: what was read ahead plays, then the run ends with an
  // error that the error event may take over.
  const std::string shrunk = Wave("shrunk.wav", f, tone);
  player.SetFileName(shrunk);
  int errors = 0;
  player.OnError = [&](TObject*, bool& handled) { handled = ++errors > 1; };
  player.Open(1000);
  player.Start();
  ASSERT_EQ(player.ReadBuffer(buffer.data(), 1000, more), 1000);
  std::filesystem::resize_file(shrunk, 44 + 3000);
  Bytes played;
  try {
    for (int i = 0; i < 1000; ++i) {
      const int32_t got = player.ReadBuffer(buffer.data(), 1000, more);
      played.insert(played.end(), buffer.begin(), buffer.begin() + got);
    }
    ADD_FAILURE() << "no error";
  } catch (const EMMWaveError& e) {
    EXPECT_STREQ(e.what(), "Error reading wave file");
  }
  EXPECT_GE(played.size(), 2000u);
  EXPECT_LE(played.size(), std::size_t{TMMWave::kDefaultIOBufferSize});
  EXPECT_TRUE(EqualAt(played, 0, tone, 1000, played.size()));
  // The run is over: the silent tail once, then nothing.
  EXPECT_EQ(player.ReadBuffer(buffer.data(), 1000, more), 4);
  EXPECT_EQ(player.ReadBuffer(buffer.data(), 1000, more), 0);
  EXPECT_EQ(errors, 1);
  player.Close();
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

// A looping device behind a ring that fills ahead of it still hears the file over
// again, and counts each pass.
TEST_F(AudioFileDeviceTest, ALoopingDeviceBehindAReadRingHearsEveryPass) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const Bytes tone = test::TonePcm16(f, 0.7);
  TMMAudioFile file;
  file.SetFileName(Wave("loop.wav", f, tone));
  TMMRingBuffer ring;
  ring.SetQueueMode(TMMQueueMode::qmRead);
  ring.SetNumBuffers(8);
  ring.SetInput(&file);
  TMMWaveOut out;
  out.SetCallBackMode(TMMCBMode::cmThread);
  out.SetBufferSize(1000);
  out.SetNumBuffers(4);
  out.SetLooping(true);
  out.SetLoopCount(2);
  out.SetInput(&ring);
  int stops = 0;
  int loops = 0;
  out.OnStop = [&](TObject*) { ++stops; };
  out.OnLooping = [&](TObject*) { ++loops; };
  out.Start();
  ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 1; }, 60s));
  out.Close();

  // The file PCM plays faster than real time and may drain the ring, which then
  // answers with a buffer of silence: those gaps are no loss of samples.
  Bytes heard = test::FileBytes(dir_ / "out.raw");
  for (std::size_t i = 0; i + 1000 <= heard.size();) {
    const auto window = heard.begin() + static_cast<long>(i);
    if (std::all_of(window, window + 1000, [](uint8_t b) { return b == 0; })) {
      heard.erase(window, window + 1000);
    } else {
      ++i;
    }
  }
  ASSERT_EQ(heard.size(), 3 * tone.size());
  for (std::size_t pass = 0; pass < 3; ++pass) {
    EXPECT_TRUE(EqualAt(heard, pass * tone.size() + 16, tone, 16, tone.size() - 32)) << pass;
  }
  EXPECT_EQ(loops, 2);
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

class PushSource : public TMMDSPComponent {
 public:
  explicit PushSource(const WaveFormatEx& f) {
    PublishLinks(false, true);
    SetPWaveFormat(&f);
  }
  void Push(Bytes bytes) {
    WAVEHDR h;
    h.lpData = reinterpret_cast<char*>(bytes.data());
    h.dwBufferLength = h.dwBytesRecorded = static_cast<uint32_t>(bytes.size());
    Output()->BufferReady(&h);
  }
};

// An engineer listens to the recording that is being made: the recording goes on
// and ends holding every byte, the player plays a true part of it.
TEST_F(AudioFileTest, PlayingTheRecordingInProgressLeavesItWhole) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const Bytes tone = test::TonePcm16(f, 20.0);
  const std::string name = (dir_ / "20261209055900.wav").string();
  PushSource source(f);
  TMMWaveFile recording;
  recording.Wave()->SetFileMustExist(false);
  recording.Wave()->SetFileName(name);
  recording.SetInput(&source);
  recording.Opened();
  recording.Started();
  const std::size_t half = tone.size() / 2;
  source.Push(Bytes(tone.begin(), tone.begin() + static_cast<long>(half)));

  TMMAudioFile player;
  player.SetFileName(name);
  const Bytes heard = ReadAll(player, 4000);
  player.Close();
  source.Push(Bytes(tone.begin() + static_cast<long>(half), tone.end()));
  player.SetFileName("");
  recording.Stopped();
  recording.Closed();

  const Bytes written = test::FileBytes(name);
  ASSERT_EQ(written.size(), 44 + tone.size());
  EXPECT_TRUE(EqualAt(written, 44, tone, 0, tone.size()));
  // The header on disk is kept up to date while recording.
  ASSERT_GE(heard.size(), half / 2);
  EXPECT_LE(heard.size(), half + 4);
  EXPECT_TRUE(EqualAt(heard, 16, tone, 16, heard.size() - 4 - 32));
}

// Volume scales every sample after the ramp in; a fade-out ends the run early
// with a ramp down to silence.
TEST_F(AudioFileTest, VolumeScalesAndAFadeOutEndsTheRunEarly) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const Bytes tone = test::TonePcm16(f, 3.0);
  TMMAudioFile file;
  file.SetFileName(Wave("v.wav", f, tone));
  file.SetVolume(8192);
  file.Open(1600);
  file.Start();
  std::vector<char> buffer(1600);
  bool more = false;
  ASSERT_EQ(file.ReadBuffer(buffer.data(), 1600, more), 1600);
  for (std::size_t i = 16; i < 1600; i += 2) {
    const int got = static_cast<int16_t>(uint8_t(buffer[i]) | uint8_t(buffer[i + 1]) << 8);
    const int want = static_cast<int16_t>(tone[i] | tone[i + 1] << 8);
    ASSERT_EQ(got, (want * 8192) >> 14) << i;  // the gain rounds down
  }
  file.FadeOut(200);
  Bytes rest;
  for (int n = 0; n < 100; ++n) {
    const int32_t got = file.ReadBuffer(buffer.data(), 1600, more);
    if (got == 0) break;
    rest.insert(rest.end(), buffer.begin(), buffer.begin() + got);
  }
  file.Close();
  // 200 ms of fading (3200 bytes), a buffer's worth of slack, the tail.
  EXPECT_GE(rest.size(), 3200u);
  EXPECT_LE(rest.size(), 3200u + 1600 + 4);
  const int last = static_cast<int16_t>(rest[3198] | rest[3199] << 8);
  EXPECT_LE(std::abs(last), 200);
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

// The main window's seek: pause the device, move the player, reset and restart. A
// buffer that came back just before the pause may be refilled after the seek; what
// the reset drops is read again. Heard is the file up to the pause, then the file
// from the new position to the end of its last, partial buffer, each byte once.
// The file device has no clock: the handlers are held while the pause is asked for,
// or they could play all 30 s before it.
TEST_F(AudioFileDeviceTest, ASeekWhilePlayingContinuesFromTheNewPositionAtTheDevice) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const Bytes tone = test::TonePcm16(f, 30.05);
  TMMAudioFile file;
  file.SetFileName(Wave("seek.wav", f, tone));
  TMMWaveOut out;
  Connect(out, file);
  int stops = 0;
  int errors = 0;
  out.OnStop = [&](TObject*) { ++stops; };
  loop_.SetExceptionHandler([&](std::exception_ptr) { ++errors; });
  played_.HoldFrom(8000);
  out.Start();
  ASSERT_TRUE(played_.WaitTotal(8000));
  out.Pause();
  played_.Release();
  file.SetTimePosition(20000);
  const int64_t target = file.GetTimePosition();
  out.ResetDevice();
  const int64_t resumed = file.GetTimePosition();
  out.Restart();
  ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 1; }, 60s));
  out.Close();
  loop_.SetExceptionHandler(nullptr);

  EXPECT_EQ(errors, 0);
  EXPECT_GE(target, 20000);
  EXPECT_LE(target, 20000 + 4 * 100);  // handlers of buffers played before the pause
  EXPECT_EQ(resumed, 20000 + 4 * 100);  // primed again from the target
  const Bytes heard = played_.Bytes();
  constexpr std::size_t ms = 16;  // ramped in at every start and out at the end
  const std::size_t seek = 20000 * ms;
  const std::size_t after = tone.size() - seek;
  ASSERT_GE(heard.size(), 8000 + after);
  const std::size_t before = heard.size() - after;
  EXPECT_TRUE(EqualAt(heard, ms, tone, ms, before - ms));
  EXPECT_TRUE(EqualAt(heard, before + ms, tone, seek + ms, after - 2 * ms));
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

// Another recording chosen while one plays: the device closes, nothing is read from
// the old file any more, and the new one plays from its start.
TEST_F(AudioFileDeviceTest, ANewFileWhileTheDevicePlaysClosesItAndPlaysNext) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  const Bytes first = test::TonePcm16(f, 30.0);
  const Bytes second(16000, 9);
  TMMAudioFile file;
  file.SetFileName(Wave("first.wav", f, first));
  TMMWaveOut out;
  Connect(out, file);
  out.Start();
  ASSERT_TRUE(played_.WaitTotal(8000));
  file.SetFileName(Wave("second.wav", f, second));
  EXPECT_FALSE(out.IsOpened());
  std::filesystem::remove(dir_ / "out.raw");
  ASSERT_TRUE(test::PlayToEnd(file, 1600, loop_));
  const Bytes heard = test::FileBytes(dir_ / "out.raw");
  ASSERT_EQ(heard.size(), second.size());
  EXPECT_TRUE(EqualAt(heard, 16, second, 16, second.size() - 32));
}

}  // namespace
}  // namespace pmx
