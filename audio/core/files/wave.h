#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/core/files/cut_list.h"
#include "audio/core/files/wave_io.h"
#include "audio/core/objects/mm_types.h"
#include "audio/core/objects/objects.h"
#include "audio/core/objects/observer.h"
#include "platform/exception.h"

namespace pmx {

class EMMWaveError : public Exception {
 public:
  using Exception::Exception;
  // The library text of that number.
  explicit EMMWaveError(int message);
  // "Unable to create wave file" with the system's reason.
  static EMMWaveError UnableToCreate(int error);
};

// Raised instead of replacing a file: a recording on disk is never overwritten, so
// the caller picks another name.
class EMMWaveFileExists : public EMMWaveError {
 public:
  EMMWaveFileExists();
};

// The object behind a WAV file: names it, parses or creates it, keeps the playable
// range and the read position (in samples), reads in play order and writes at the
// end. Positions and lengths are 64-bit.
//
// Threads: one thread at a time. The wave-file component hands its wave to the
// chain's threads only while the chain is open, and serialises them under its lock.
class TMMWave : public TMMObject {
 public:
  static constexpr int32_t kDefaultIOBufferSize = 32768;
  static constexpr int32_t kMinIOBufferSize = 8192;

  TMMWave() = default;
  // Finishes a file still being written.
  ~TMMWave() override;

  const std::string& FileName() const { return file_name_; }
  // Parses the named file, or keeps the name for a file still to be created when
  // it does not exist and FileMustExist is False; "" frees everything.
  virtual void SetFileName(const std::string& value);
  bool FileMustExist() const { return file_must_exist_; }
  void SetFileMustExist(bool value) { file_must_exist_ = value; }
  int32_t IOBufferSize() const { return io_buffer_size_; }
  void SetIOBufferSize(int32_t value);
  TMMTimeFormats TimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value);

  uint16_t BitLength() const;
  TMMMode Mode() const;
  uint16_t FormatTag() const;
  std::string FormatString() const;
  uint32_t SampleRate() const;
  int64_t FileSize() const;
  // Total samples in TimeFormat units.
  int64_t DataSize() const;

  // The format inside the I/O record, or none.
  virtual PWaveFormatEx GetPWaveFormat() const;
  PWaveIORecord IORecord() const { return record_.get(); }
  bool Opened() const { return opened_; }
  // Bytes still to read in play order.
  int64_t BytesLeft() const { return bytes_left_; }

  // Creates the file (refusing an existing name) and keeps it open for writing.
  void CreateWaveFile(const std::string& name, PWaveFormatEx pwfx);
  // Creates the named file, and only then finishes the one being written and goes
  // on in the new one; a create that fails leaves the old file open as it was.
  // False when the old file could not be finished (see CloseWaveFile).
  bool SwitchWaveFile(const std::string& name, PWaveFormatEx pwfx);
  // Opens the parsed file for reading at the current position.
  virtual void OpenWaveFile();
  // Finishes a written file; closes a read one. False when a written file could not
  // be finished: its last data or its sizes may not be on the disk (errno says why).
  virtual bool CloseWaveFile();

  // Bytes read in play order; -1 without a record or with nothing left.
  virtual int64_t ReadData(void* buffer, int64_t length);
  // Bytes written at the end; 0 or less when nothing could be written.
  int64_t WriteData(const void* buffer, int64_t length);

  // Position in TimeFormat units; -1 without a record.
  int64_t GetPosition() const;
  virtual void SetPosition(int64_t position);

  int64_t SamplesToTime(int64_t samples) const;
  // After a seek into a compressed block, the samples of that block before the
  // position, which the next read delivers first; 0 once read.
  int64_t LeadSamples() const { return lead_; }
  int64_t TimeToSamples(int64_t time) const;

  void AddObserver(TMMObserver* observer) { observers_.AddObserver(observer); }
  void RemoveObserver(TMMObserver* observer) { observers_.RemoveObserver(observer); }

  // Copies another wave's settings and file (none frees everything).
  void Assign(const TMMWave* source);

  // Called when a source starts over from its beginning; nothing here.
  virtual void ResetWave() {}

 protected:
  // Fires OnChange and notifies the observers, or holds that back while assigning.
  void NotifyChange();

 private:
  void FreeAll();
  void TakeRecord(std::unique_ptr<TWaveIORecord> record);
  // A new file, open for writing through the I/O buffer.
  std::unique_ptr<TWaveIORecord> CreateRecord(const std::string& name, PWaveFormatEx pwfx) const;
  void UseCreated(std::unique_ptr<TWaveIORecord> created, const std::string& name);
  void BuildSegments();
  int64_t PlayListSamples() const;
  int64_t BytesOf(int64_t samples) const;
  int64_t SamplesOf(int64_t bytes) const;
  void SeekRecord(int64_t sample);
  int64_t ReadSegments(uint8_t* buffer, int64_t want);

  std::unique_ptr<TWaveIORecord> record_;
  std::string file_name_;
  bool file_must_exist_ = true;
  int32_t io_buffer_size_ = kDefaultIOBufferSize;
  TMMTimeFormats time_format_ = TMMTimeFormats::tfSample;
  int64_t range_start_ = 0;
  int64_t range_end_ = 0;
  int64_t position_ = 0;
  int64_t lead_ = 0;  // samples the next read holds before position_
  int64_t bytes_left_ = 0;
  int64_t total_bytes_ = 0;
  TMMCutList segments_;
  int current_segment_ = -1;
  int64_t segment_bytes_left_ = 0;
  bool opened_ = false;
  bool assigning_ = false;
  bool change_pending_ = false;
  TMMObservable observers_;
};

}  // namespace pmx
