#include "platform/media/media_reader.h"

#include <sys/types.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/media/mpg123_library.h"

namespace pmx {
namespace {

const Mpg123Library& Api() { return Mpg123(); }

constexpr uint16_t kStream = 1;
constexpr size_t kSampleBytes = 16384;
constexpr int64_t kUnitsPerSecond = 10'000'000;

ssize_t ReadSource(void* handle, void* buffer, size_t count) {
  const int64_t got = static_cast<MediaByteSource*>(handle)->Read(buffer, static_cast<int64_t>(count));
  return got < 0 ? -1 : static_cast<ssize_t>(got);
}

off_t SeekSource(void* handle, off_t offset, int whence) {
  const auto origin = whence == SEEK_CUR ? MediaByteSource::kCurrent
                      : whence == SEEK_END ? MediaByteSource::kEnd
                                           : MediaByteSource::kBegin;
  return static_cast<off_t>(static_cast<MediaByteSource*>(handle)->Seek(offset, origin));
}

// The ID3v2 text frame each attribute is read from.
const char* FrameOf(const std::string& name) {
  static const char* const kPairs[][2] = {{"Author", "TPE1"},   {"Title", "TIT2"},     {"WM/AlbumTitle", "TALB"},
                                          {"WM/Genre", "TCON"}, {"WM/Track", "TRCK"},  {"WM/Year", "TYER"},
                                          {"Copyright", "TCOP"}};
  for (const auto& pair : kPairs)
    if (name == pair[0]) return pair[1];
  return nullptr;
}

// MP3 through libmpg123: one audio output whose only format is the stream's own
// channels and rate at 16 bits.
class Mp3SyncReader : public MediaSyncReader {
 public:
  ~Mp3SyncReader() override { Close(); }

  bool Open(MediaByteSource& source) override {
    Close();
    const Mpg123Library& api = Api();
    handle_ = api.mpg123_new(nullptr, nullptr);
    if (handle_ == nullptr) return false;
    api.mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    api.AllowOnlySixteenBits(handle_, MPG123_MONO | MPG123_STEREO);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (!api.OpenMeasured(handle_, &ReadSource, &SeekSource, &source) ||
        api.mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels <= 0) {
      Close();
      return false;
    }
    format_ = {static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 16};
    api.KeepFormat(handle_, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO);
    const off_t samples = api.mpg123_length(handle_);
    duration_ = samples > 0 ? static_cast<uint64_t>(samples) * kUnitsPerSecond / format_.SampleRate : 0;
    return true;
  }

  void Close() override {
    if (handle_ == nullptr) return;
    Api().mpg123_close(handle_);
    Api().mpg123_delete(handle_);
    handle_ = nullptr;
  }

  int OutputCount() const override { return handle_ != nullptr ? 1 : 0; }
  bool OutputIsAudio(int output) const override { return output == 0 && handle_ != nullptr; }
  // Decoding is the same whatever the settings say: MP3 has no discrete or surround output.
  void SetOutputSetting(int, const std::string&, uint32_t) override {}
  std::vector<MediaFormat> OutputFormats(int output) const override {
    if (!OutputIsAudio(output)) return {};
    return {format_};
  }
  MediaFormat OutputFormat(int output) const override { return OutputIsAudio(output) ? format_ : MediaFormat{}; }
  bool SetOutputFormat(int output, const MediaFormat& f) override {
    return OutputIsAudio(output) && f.Channels == format_.Channels && f.SampleRate == format_.SampleRate &&
           f.BitsPerSample == format_.BitsPerSample;
  }
  uint16_t StreamNumberForOutput(int output) const override { return OutputIsAudio(output) ? kStream : 0; }
  uint32_t SetReadStreamSamples(uint16_t, bool) override { return 0; }

  bool GetNextSample(uint16_t stream, std::vector<uint8_t>& sample) override {
    if (handle_ == nullptr || stream != kStream) return false;
    sample.resize(kSampleBytes);
    for (;;) {
      size_t done = 0;
      const int result = Api().mpg123_read(handle_, sample.data(), sample.size(), &done);
      if (done > 0) {
        sample.resize(done);
        return true;
      }
      if (result != MPG123_NEW_FORMAT && result != MPG123_OK) return false;
    }
  }

  bool SetRange(uint64_t start, int64_t) override {
    if (handle_ == nullptr) return false;
    // Nearest, not down: a start that was rounded from a sample must land on it.
    const auto frame = static_cast<off_t>(
        std::nearbyint(static_cast<double>(start) * format_.SampleRate / kUnitsPerSecond));
    return Api().mpg123_seek(handle_, frame, SEEK_SET) >= 0;
  }

  bool NumberAttribute(uint16_t stream, const std::string& name, uint64_t& value) const override {
    if (handle_ == nullptr || stream != 0 || name != "Duration") return false;
    value = duration_;
    return true;
  }

  bool TextAttribute(uint16_t stream, const std::string& name, std::string& value) const override {
    const char* frame = FrameOf(name);
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (handle_ == nullptr || stream != 0 || frame == nullptr ||
        Api().mpg123_id3(handle_, &v1, &v2) != MPG123_OK || v2 == nullptr)
      return false;
    for (size_t i = 0; i < v2->texts; ++i) {
      const mpg123_text& text = v2->text[i];
      if (std::memcmp(text.id, frame, 4) != 0 || text.text.p == nullptr || text.text.fill == 0) continue;
      value.assign(text.text.p, strnlen(text.text.p, text.text.fill));
      return true;
    }
    return false;
  }

 private:
  mpg123_handle* handle_ = nullptr;
  MediaFormat format_;
  uint64_t duration_ = 0;
};

}  // namespace

std::unique_ptr<MediaSyncReader> CreateMp3SyncReader() {
  if (!Api().complete) return nullptr;
  return std::make_unique<Mp3SyncReader>();
}

}  // namespace pmx
