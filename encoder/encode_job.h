#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pmx {

class TWaveIn;
class TVorbisOut;

// One encode of a WAV file into an Ogg Vorbis file, as the encoder program sees it.
// Events arrive on the GUI thread.
class TEncodeJob {
 public:
  virtual ~TEncodeJob() = default;
  // Starts the encode and returns at once; raises EAuException when it cannot start.
  virtual void Start(const std::string& source, const std::string& target, float quality) = 0;
  // Bytes of the input taken so far, and all there are.
  virtual int64_t Position() const = 0;
  virtual int64_t Size() const = 0;
  virtual int Progress() const = 0;
  virtual bool Running() const = 0;
  // After the run: why it failed (empty: it did not), and whether it wrote the
  // end-of-stream page after taking the input to its end.
  virtual std::string Error() const = 0;
  virtual bool EndOfStream() const = 0;
  virtual bool InputEnded() const = 0;
  // Whole frames taken from the input so far.
  virtual int64_t FramesRead() const = 0;
  // The frames an Ogg Vorbis file holds by its pages' granule positions, read
  // without decoding it; -1 when it can't be told.
  virtual int64_t EncodedFrames(const std::string& path) const = 0;

  std::function<void()> OnProgress;
  std::function<void()> OnDone;
};

// The real encode: a WAV reader feeding an Ogg Vorbis output on a lowered-priority worker.
class TVorbisEncodeJob : public TEncodeJob {
 public:
  TVorbisEncodeJob();
  ~TVorbisEncodeJob() override;

  void Start(const std::string& source, const std::string& target, float quality) override;
  int64_t Position() const override;
  int64_t Size() const override;
  int Progress() const override;
  bool Running() const override;
  std::string Error() const override;
  bool EndOfStream() const override;
  bool InputEnded() const override;
  int64_t FramesRead() const override;
  int64_t EncodedFrames(const std::string& path) const override;

 private:
  std::unique_ptr<TWaveIn> in_;
  std::unique_ptr<TVorbisOut> out_;
};

}  // namespace pmx
