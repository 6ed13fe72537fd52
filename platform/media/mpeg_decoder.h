#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/unique_fd.h"

struct mpg123_handle_struct;

namespace pmx {

enum class TMpegVersion : uint8_t { v2LSF, v1 };
enum class TSampleMode : uint8_t { smStereo, smJointStereo, smDualChannel, smSingleChannel };
// Which channels of a stereo stream are decoded: both, one of them as mono, or
// both mixed down to mono.
enum class TMpegChannelMode : uint8_t { cmLeft, cmRight, cmBoth, cmDownMix };

// What the decoder knows about the stream of the file set.
struct TMpegFileInfo {
  TMpegVersion Version = TMpegVersion::v1;
  int32_t Layer = 0;
  int32_t SampleRate = 0;
  int32_t BitRate = 0;  // kbit/s of the first frame
  TSampleMode SampleMode = TSampleMode::smStereo;
  int32_t Frames = 0;
  int32_t PlayTime = 0;  // ms
  double MsPerFrame = 0;
};

// The 128 bytes of an ID3v1 tag at the end of a file, field by field.
struct TMpegID3Record {
  std::array<char, 30> Title{};
  std::array<char, 30> Artist{};
  std::array<char, 30> Album{};
  std::array<char, 4> Year{};
  std::array<char, 28> Comment{};
  uint8_t Track = 0;
  uint8_t Genre = 0;
};

// The MPEG audio decoder the library's MPEG file reads through, over libmpg123:
// one decoder instance, the operations of its entry points, results as error
// codes (0 for success) with texts. It reads the file itself: MPEG carried inside a
// WAVE file is read from its "data" chunk only, and a trailing header set at the
// end of the data is left out. Decodes to 16-bit PCM at the stream's rate. The
// stream is read through once when a file is set and when it opens, so lengths are
// the decoded lengths and positions are exact to the sample.
//
// Threads: every operation takes the instance's lock, so reads on a pulling thread
// and seeks or properties on the GUI thread follow one another; AbortReadData only
// raises a flag that the read under way sees.
class MpegDecoder {
 public:
  enum Error : int {
    kOk = 0,
    kLibraryMissing,
    kCannotOpen,
    kNotMpeg,
    kNotOpen,
    kDecodeFailed,
    kSeekFailed,
    kNotSupported,
  };
  static constexpr int32_t kVersion = 25;

  // The facade's version; 0 when libmpg123 cannot be used.
  static int32_t Version();
  static std::string ErrorText(int error);

  // changed runs (on the calling thread) when the file's properties change.
  explicit MpegDecoder(std::function<void()> changed = {});
  ~MpegDecoder();
  MpegDecoder(const MpegDecoder&) = delete;
  MpegDecoder& operator=(const MpegDecoder&) = delete;

  // '' closes and forgets the file; kCannotOpen or kNotMpeg leave no file set.
  int SetFileName(const std::string& name);
  std::string GetFileName() const;
  bool GetEmpty() const;
  int GetFileInfo(TMpegFileInfo& info) const;

  int OpenFile();
  int CloseFile();
  int ResetFile();
  // Bytes of PCM written; a negative error code when decoding failed.
  int64_t ReadDataBytes(void* buffer, int64_t count);
  bool GetDone() const;
  void AbortReadData();

  // Positions in frames or in samples (per channel, the encoder's delay left out);
  // set before opening, the position applies when the file opens.
  int SetPosition(int64_t frame);
  int64_t GetPosition() const;
  int SetSamplePosition(int64_t sample);
  int64_t GetSamplePosition() const;
  int SetTrailingHeader(int32_t bytes);
  // Accepted for the callers that ask for it: positions are always exact.
  int SetExactPosition(bool exact);
  int SetChannelMode(TMpegChannelMode mode);
  TMpegChannelMode GetChannelMode() const;
  // Closes and forgets the file.
  void Clear();
  // Reads the whole stream to measure it exactly (the arguments are not used).
  int ScanFile(int32_t a, int32_t b, int32_t c);
  int ScanFileEx(int32_t a, int32_t b);
  // Protected files are not supported.
  int EncryptFile(const std::string& name, int32_t a, int32_t b, int32_t c);
  bool ReadID3Tag(TMpegID3Record& tag) const;

  // The reader libmpg123 calls back into; a byte range of the file.
  struct Range {
    int fd = -1;
    int64_t begin = 0;
    int64_t end = 0;
    int64_t position = 0;
  };

 private:
  using Handle = mpg123_handle_struct;

  void CloseLocked();
  void ClearLocked();
  // A handle reading the range, set up for the channel mode and, once the stream
  // is measured, held to its first format; none on failure.
  Handle* NewHandle(Range& range) const;
  static void FreeHandle(Handle*& handle);
  // Measures the stream into info_.
  int Probe();
  int SeekLocked(int64_t sample);
  int64_t SamplesPerFrame() const;
  void SetRangeEnd();

  mutable std::mutex mutex_;
  std::function<void()> changed_;
  std::string name_;
  UniqueFd fd_;
  int64_t data_begin_ = 0;
  int64_t data_end_ = 0;  // before the trailing header
  int64_t file_size_ = 0;
  int32_t trailing_ = 0;
  TMpegChannelMode mode_ = TMpegChannelMode::cmBoth;
  TMpegFileInfo info_;
  Range range_;
  Handle* handle_ = nullptr;  // while open
  bool done_ = false;
  int64_t pending_sample_ = 0;
  std::atomic<bool> abort_{false};
};

}  // namespace pmx
