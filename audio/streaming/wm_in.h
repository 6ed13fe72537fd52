#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/streaming/au_input.h"
#include "audio/streaming/wm_stream.h"
#include "platform/media/media_reader.h"

namespace pmx {

enum TChannelsNumber { cnMaxAvailable, cnMonoOrStereo, cn5dot1, cn7dot1 };

// Decodes compressed audio files through the synchronous media reader.
//
// Threads: as TAuInput. The GUI thread opens the source (getters, Init, the two
// setters) under OpenLock; the output's worker reads under DataLock. The reader
// record is only touched with one of those locks held.
class TWMIn : public TAuTaggedFileIn {
 public:
  using TAuTaggedFileIn::TAuTaggedFileIn;
  ~TWMIn() override;

  bool HighPrecision() const { return high_precision_; }
  // Ignored while busy or unless OutputChannels is cnMonoOrStereo.
  void SetHighPrecision(bool v);
  TChannelsNumber OutputChannels() const { return output_channels_; }
  // Ignored while busy; anything but cnMonoOrStereo needs high precision.
  void SetOutputChannels(TChannelsNumber v);

 protected:
  // The media runtime's general reader; none when it is missing.
  virtual std::unique_ptr<MediaSyncReader> CreateReader() const;
  void OpenSource() override;
  void CloseSource() override;
  void ReadData(const uint8_t*& buffer, uint32_t& bytes) override;
  bool SeekToSample(int64_t& sample) override;

 private:
  struct Reader {
    std::unique_ptr<TAudioStream> Stream;
    std::unique_ptr<MediaSyncReader> SyncReader;
    std::vector<uint8_t> Sample;
    bool HoldsSample = false;
    bool Found = false;
    int OutputNumber = 0;
    uint16_t StreamNumber = 0;
    bool Protected = false;
    MediaFormat Format;
    uint64_t Duration = 0;
    size_t Consumed = 0;
  };

  // False when this process has no reader at all.
  bool OpenReader(bool discrete, int wish);
  void ChooseFormat(int output, bool discrete, int wish);
  void CloseReader();
  void ReadReader(const uint8_t*& buffer, uint32_t& bytes);
  std::string Attribute(const std::string& name) const;
  void TakeTags();
  void Reopen();

  Reader reader_;
  int32_t duration_units_ = 0;
  bool high_precision_ = false;
  TChannelsNumber output_channels_ = cnMonoOrStereo;
};

// MP3 through a reader that is exact to the sample; the size reported is a
// third of a second longer.
class TMP3In : public TWMIn {
 public:
  using TWMIn::TWMIn;

 protected:
  std::unique_ptr<MediaSyncReader> CreateReader() const override { return CreateMp3SyncReader(); }
  void OpenSource() override;
};

}  // namespace pmx
