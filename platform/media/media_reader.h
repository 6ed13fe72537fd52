#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A synchronous media reader: opens a compressed audio file from a byte source,
// offers its outputs and their decoded formats, and hands out decoded samples one
// buffer at a time. Single-threaded: one reader is used by one thread at a time.

namespace pmx {

// The bytes a reader decodes; not owned by the reader.
class MediaByteSource {
 public:
  enum Origin { kBegin = 0, kCurrent = 1, kEnd = 2 };
  virtual ~MediaByteSource() = default;
  // Bytes read, 0 at the end, -1 on an error.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // The new position, -1 on an error.
  virtual int64_t Seek(int64_t offset, Origin origin) = 0;
};

struct MediaFormat {
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint16_t BitsPerSample = 0;
};

class MediaSyncReader {
 public:
  // What SetReadStreamSamples answers for content the reader may not decode.
  static constexpr uint32_t kProtectedContent = 0xC00D0BBD;

  virtual ~MediaSyncReader() = default;

  // False when the source is no file this reader decodes.
  virtual bool Open(MediaByteSource& source) = 0;
  virtual void Close() = 0;

  virtual int OutputCount() const = 0;
  virtual bool OutputIsAudio(int output) const = 0;
  // Settings by name ("EnableDiscreteOutput", "SpeakerConfig"); unknown ones are kept and ignored.
  virtual void SetOutputSetting(int output, const std::string& name, uint32_t value) = 0;
  virtual std::vector<MediaFormat> OutputFormats(int output) const = 0;
  virtual MediaFormat OutputFormat(int output) const = 0;
  virtual bool SetOutputFormat(int output, const MediaFormat& format) = 0;
  virtual uint16_t StreamNumberForOutput(int output) const = 0;
  // 0, or an error code such as kProtectedContent.
  virtual uint32_t SetReadStreamSamples(uint16_t stream, bool compressed) = 0;

  // The next decoded buffer of the stream; false when there is none.
  virtual bool GetNextSample(uint16_t stream, std::vector<uint8_t>& sample) = 0;
  // Reading goes on from start (100-ns units); duration 0 means to the end.
  virtual bool SetRange(uint64_t start, int64_t duration) = 0;

  // Header attributes of a stream (0: the file): "Duration" in 100-ns units.
  virtual bool NumberAttribute(uint16_t stream, const std::string& name, uint64_t& value) const = 0;
  // "Author", "Title", "WM/AlbumTitle", "WM/Genre", "WM/Track", "WM/Year", "Copyright", as UTF-8.
  virtual bool TextAttribute(uint16_t stream, const std::string& name, std::string& value) const = 0;
};

// A reader over the libav* libraries: every audio stream of the containers it
// accepts (ASF/WMA above all, MP3, Ogg, WAV, FLAC, MP4/M4A, Matroska, ADTS AAC)
// is an output, offered as mono or stereo at 16 bits and, with
// "EnableDiscreteOutput", also at 24 bits and in the stream's own channels.
// Positions are exact to the sample: seeking goes back to a packet whose sample
// count is known and decodes forward. A stream whose ASF header announces
// content encryption answers kProtectedContent. None when the libraries are missing.
std::unique_ptr<MediaSyncReader> CreateMediaSyncReader();
// MP3 alone over libmpg123, exact to the sample; none when the library is missing.
std::unique_ptr<MediaSyncReader> CreateMp3SyncReader();

}  // namespace pmx
