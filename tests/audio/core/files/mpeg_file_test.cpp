#include "audio/core/files/mpeg_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "audio/core/chain/wave_out.h"
#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "audio/core/files/audio_file.h"
#include "audio/core/files/wave_file.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/main_loop.h"
#include "tests/support/acm_test_support.h"
#include "tests/support/alsa_file_pcm.h"
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

Bytes Id3v1(const std::string& title, uint8_t track, uint8_t genre) {
  Bytes tag(128, 0);
  std::memcpy(tag.data(), "TAG", 3);
  std::memcpy(tag.data() + 3, title.data(), title.size());
  std::memcpy(tag.data() + 93, "2026", 4);
  tag[126] = track;
  tag[127] = genre;
  return tag;
}

class MpegFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadACM();
    if (!LoadMPEGDecoder()) GTEST_SKIP() << "libmpg123 is missing";
    mp3_.set_wFormatTag(WAVE_FORMAT_MPEGLAYER3);
    ASSERT_EQ(acmFormatSuggest(nullptr, pcm_, mp3_, 64, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    stream_ = test::Convert(pcm_, mp3_, test::TonePcm16(pcm_, 2.0), 4000);
    decoded_ = test::Convert(mp3_, pcm_, stream_, 4000);
    ASSERT_GT(decoded_.size(), 4u * 44100);
  }

  std::string Put(const std::string& name, const Bytes& bytes) {
    test::PutFile(dir_ / name, bytes);
    return (dir_ / name).string();
  }

  const WaveFormatEx pcm_ = WaveFormatEx::Pcm(44100, 16, 2);
  WaveFormatEx mp3_;
  Bytes stream_;
  Bytes decoded_;
  test::TempDir dir_;
  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
};

// An MP3 file, and the same stream inside a WAVE file with chunks after its data,
// reach the device as the decoder decodes the stream alone.
TEST_F(MpegFileTest, MpegFilesAndMpegInWaveReachTheDeviceAsDecoded) {
  AlsaWaveDriver driver{test::FilePcmOptions(dir_)};
  ScopedWaveDriver driver_scope{driver};
  Bytes tagged = stream_;
  const Bytes tag = Id3v1("Morning news", 0, 101);
  tagged.insert(tagged.end(), tag.begin(), tag.end());
  const std::string mp3 = Put("news.mp3", tagged);
  const std::string wav =
      Put("news.wav", test::WaveImage()
                          .Fmt(mp3_, static_cast<uint32_t>(mp3_.Bytes().size()))
                          .Chunk("data", static_cast<uint32_t>(stream_.size()), stream_)
                          .Chunk("LIST", 64, Bytes(64, 0xFF))
                          .Bytes());
  EXPECT_FALSE(TMMWaveFile::CanLoad(wav));
  EXPECT_TRUE(TMMMPEGFile::CanLoad(wav));
  for (const std::string& name : {mp3, wav}) {
    std::filesystem::remove(dir_ / "out.raw");
    TMMAudioFile file;
    file.SetFileName(name);
    ASSERT_EQ(file.FileType(), TMMAudioFileType::ftMpeg) << name;
    ASSERT_EQ(*file.PWaveFormat(), pcm_) << name;
    ASSERT_TRUE(test::PlayToEnd(file, 8820, loop_)) << name;
    const Bytes heard = test::FileBytes(dir_ / "out.raw");
    ASSERT_EQ(heard.size(), decoded_.size()) << name;
    // The length the decoder estimates may run past the stream's true end.
    const auto end = std::min(static_cast<std::size_t>(wfMsToBytes64(&pcm_, file.FileLength() - 1)),
                              decoded_.size() - 176);
    EXPECT_TRUE(EqualAt(heard, 176, decoded_, 176, end - 176)) << name;
  }

  TMMFileInfo info;
  ASSERT_TRUE(TMMMPEGFile::GetFileInfo(mp3, info));
  EXPECT_EQ(info.FileType, TMMAudioFileType::ftMpeg);
  EXPECT_EQ(info.SampleRate, 44100);
  EXPECT_EQ(info.Layer, 3);
  EXPECT_NEAR(static_cast<double>(info.Length), 2000.0, 60.0);
  EXPECT_EQ(info.ID3.Title, "Morning news");
  EXPECT_EQ(info.ID3.Year, "2026");
  EXPECT_EQ(info.ID3.Genre, "Speech");
  EXPECT_EQ(MpegGenreName(125), "Dance Hall");
  EXPECT_EQ(MpegGenreName(126), "");
  EXPECT_FALSE(TMMMPEGFile::GetFileInfo(
      Put("pcm.wav", test::WaveImage().Fmt(pcm_).Data(400, 400).Bytes()), info));
}

TEST_F(MpegFileTest, FilterListsMpegBeforeWave) {
  EXPECT_EQ(
      GetAudioFileFilter(true),
      "All Audio Files (*.mp2;*.mp3;*.atx;*.wav)|*.mp2;*.mp3;*.atx;*.wav|MPEG Files (*.mp?;*.atx)|"
      "*.mp2;*.mp3;*.atx|Antex Files (*.atx)|*.atx|Wave Files(*.wav)|*.wav");
}

// The left channel alone, or both mixed down, as 16-bit mono.
TEST_F(MpegFileTest, MonoChannelModesDecodeOneChannelAndAreFixedWhileOpen) {
  const std::string name = Put("stereo.mp3", stream_);
  for (const TMpegChannelMode mode : {TMpegChannelMode::cmLeft, TMpegChannelMode::cmDownMix}) {
    SCOPED_TRACE(static_cast<int>(mode));
    TMMMPEGFile file;
    file.Mpeg().SetChannelMode(mode);
    file.SetFileName(name);
    ASSERT_NE(file.PWaveFormat(), nullptr);
    EXPECT_EQ(*file.PWaveFormat(), WaveFormatEx::Pcm(44100, 16, 1));
    file.Opened();
    file.Started();
    try {
      file.Mpeg().SetChannelMode(TMpegChannelMode::cmBoth);
      ADD_FAILURE();
    } catch (const EMMMpegError& e) {
      EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    // Seeking to the first frame of an open file lands there, not before it.
    file.Mpeg().SetPosition(0);
    EXPECT_EQ(file.Mpeg().GetPosition(), 0);
    Bytes all(decoded_.size());
    WAVEHDR h;
    h.lpData = reinterpret_cast<char*>(all.data());
    h.dwBufferLength = static_cast<uint32_t>(all.size());
    bool more = false;
    file.BufferLoad(&h, more);
    all.resize(h.dwBytesRecorded);
    file.Closed();
    // The decoder's mono synthesis rounds on its own: within one step of the
    // stereo decode's left channel or of the mean of both.
    ASSERT_EQ(all.size(), decoded_.size() / 2);
    for (std::size_t i = 0; i + 1 < all.size(); i += 2) {
      const int got = static_cast<int16_t>(all[i] | all[i + 1] << 8);
      const int left = static_cast<int16_t>(decoded_[2 * i] | decoded_[2 * i + 1] << 8);
      const int right = static_cast<int16_t>(decoded_[2 * i + 2] | decoded_[2 * i + 3] << 8);
      const int want = mode == TMpegChannelMode::cmLeft ? left : (left + right) / 2;
      ASSERT_LE(std::abs(got - want), 1) << i;
    }
  }
}

TEST_F(MpegFileTest, DamagedStreamsPlayWhatTheyHoldAndJunkIsRefused) {
  // Cut in the middle of a frame.
  const Bytes cut(stream_.begin(), stream_.begin() + static_cast<long>(stream_.size() / 2 + 111));
  TMMAudioFile file;
  file.SetFileName(Put("cut.mp3", cut));
  const Bytes played = ReadAll(file, 8820);
  file.Close();
  EXPECT_GT(played.size(), decoded_.size() / 3);
  EXPECT_LT(played.size(), decoded_.size() * 2 / 3);
  EXPECT_TRUE(EqualAt(played, 176, decoded_, 176, played.size() / 2));

  // A seek lands on the sample of the time asked for.
  file.SetFileName(Put("whole.mp3", stream_));
  file.Open(8820);
  file.Start();
  std::vector<char> buffer(8820);
  bool more = false;
  ASSERT_EQ(file.ReadBuffer(buffer.data(), 8820, more), 8820);
  file.SetTimePosition(1000);
  EXPECT_EQ(file.GetTimePosition(), 1000);
  ASSERT_EQ(file.ReadBuffer(buffer.data(), 8820, more), 8820);
  EXPECT_TRUE(
      EqualAt(Bytes(buffer.begin(), buffer.end()), 176, decoded_, 44100 * 4 + 176, 8820 - 176));
  file.Close();

  // A trailing header is left out of the stream, even one that would decode.
  Bytes twice = stream_;
  twice.insert(twice.end(), stream_.begin(), stream_.end());
  file.SetFileName(Put("twice.mp3", twice));
  file.SetMpegTrailingHeader(static_cast<int32_t>(stream_.size()));
  EXPECT_EQ(file.MpegTrailingHeader(), static_cast<int32_t>(stream_.size()));
  const Bytes once = ReadAll(file, 8820);
  file.Close();
  EXPECT_EQ(once.size(), decoded_.size() + 4);

  for (const Bytes& junk : {Bytes(), Bytes(20000, 0x11)}) {
    try {
      file.SetFileName(Put("junk.mp3", junk));
      ADD_FAILURE();
    } catch (const EMMAudioError& e) {
      EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
    }
  }
}

// VBR streams that open with their smallest frames (two seconds of silence), with
// and without the encoder's Xing/LAME header: the length is the decoded length,
// seeks through the player land on the sample asked for, and a run to the end
// after a seek ends where a straight run ends, the encoder's padding still cut.
TEST_F(MpegFileTest, VbrStreamsHaveTheirDecodedLengthAndExactSeeks) {
  Bytes pcm(2 * 44100 * 4, 0);
  const Bytes tone = test::TonePcm16(pcm_, 8.0);
  pcm.insert(pcm.end(), tone.begin(), tone.end());
  test::PutFile(dir_ / "in.raw", pcm);
  for (const std::string tag_option : {"-t", ""}) {
    SCOPED_TRACE(tag_option);
    const std::string mp3 = (dir_ / "vbr.mp3").string();
    const std::string command = "lame --quiet -r -s 44.1 -V 2 " + tag_option + " '" +
                                (dir_ / "in.raw").string() + "' '" + mp3 + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "lame is not available";
    TMMAudioFile file;
    file.SetFileName(mp3);
    const Bytes straight = ReadAll(file, 8820);
    const double decoded_ms = static_cast<double>(straight.size() - 4) * 1000 / 176400;
    EXPECT_NEAR(static_cast<double>(file.FileLength()), decoded_ms, 1152 * 1000.0 / 44100);

    std::vector<char> buffer(8820);
    bool more = false;
    for (const int64_t ms : {7777, 1234, 5000}) {
      file.SetTimePosition(ms);
      EXPECT_EQ(file.GetTimePosition(), ms);
      ASSERT_EQ(file.ReadBuffer(buffer.data(), 8820, more), 8820);
      // Past the millisecond the player ramps in after a seek.
      const auto at = static_cast<std::size_t>(std::nearbyint(ms * 44.1)) * 4;
      EXPECT_TRUE(EqualAt(Bytes(buffer.begin(), buffer.end()), 176, straight, at + 176, 8820 - 176))
          << ms << " ms";
    }
    const Bytes rest = ReadAll(file, 8820);
    file.Close();
    const std::size_t end_of_read = 5000 * 176400 / 1000 + 8820;
    ASSERT_EQ(rest.size(), straight.size() - end_of_read);
    EXPECT_TRUE(EqualAt(rest, 0, straight, end_of_read, rest.size() - 180));
  }
}

// Parts joined into one file (a mono jingle at another rate after stereo music)
// play in the format the file began with: the mono part doubled onto both
// channels, the other rate resampled, never a layout that changes midway.
TEST_F(MpegFileTest, AFileJoinedFromPartsKeepsTheFormatItBeganWith) {
  auto mono_part = [](uint32_t rate, Bytes& decoded) {
    const WaveFormatEx mono = WaveFormatEx::Pcm(rate, 16, 1);
    WaveFormatEx mp3;
    mp3.set_wFormatTag(WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(acmFormatSuggest(nullptr, mono, mp3, 64, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    const Bytes stream = test::Convert(mono, mp3, test::TonePcm16(mono, 1.0), 4000);
    decoded = test::Convert(mp3, mono, stream, 4000);
    return stream;
  };
  Bytes mono44;
  Bytes mono48;
  Bytes joined = stream_;
  for (const Bytes& part : {mono_part(44100, mono44), mono_part(48000, mono48)})
    joined.insert(joined.end(), part.begin(), part.end());
  TMMAudioFile file;
  file.SetFileName(Put("joined.mp3", joined));
  ASSERT_EQ(*file.PWaveFormat(), pcm_);
  const Bytes played = ReadAll(file, 8820);

  // Well inside the mono part, away from the joins, each frame is its sample twice.
  const std::size_t mono_from = decoded_.size() + 10 * 1152 * 4;
  const std::size_t frames = 20000;
  ASSERT_GE(played.size(), mono_from + frames * 4);
  Bytes doubled;
  for (std::size_t i = 0; i < frames; ++i) {
    const uint8_t* s = &mono44[10 * 1152 * 2 + 2 * i];
    doubled.insert(doubled.end(), {s[0], s[1], s[0], s[1]});
  }
  EXPECT_TRUE(EqualAt(played, mono_from, doubled, 0, doubled.size()));
  const double expected = static_cast<double>(decoded_.size()) + 2.0 * mono44.size() +
                          2.0 * mono48.size() * 44100 / 48000 + 4;
  EXPECT_NEAR(static_cast<double>(played.size()), expected, 2 * 1152 * 4);
}

}  // namespace
}  // namespace pmx
