#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/core/files/custom_file.h"
#include "audio/core/files/wave.h"
#include "audio/core/objects/observer.h"
#include "platform/unique_fd.h"

namespace pmx {

// A file a sink created, with a descriptor of its own that keeps the file's data
// reachable even after its name is deleted.
struct TCreatedFile {
  std::string name;
  UniqueFd fd;
};

// A wave as a node of the processing chain. With an Input it is a sink that writes
// every buffer passing through into a new file, closing itself (and finishing the
// file) when the disk runs short or a write fails; without one it is a source that
// fills the buffers pulled from it, looping when the puller asks.
//
// A sink can be told to go on in a new file at the next buffer, so a long recording
// is split before the size limit without losing a sample.
//
// Threads: properties, Opened and Started on the GUI thread; BufferReady on the
// thread that delivers buffers (in the recorder the ring buffer's queue thread),
// BufferLoad on the playing device's thread; Closed and Stopped on either. The wave
// is touched by those threads only under wave_lock_; the file flags and the data
// count are atomics. The split request, the finished splits and the failure text
// are guarded by status_lock_, which is never held across disk I/O, so the GUI
// thread can ask about them while a write is stuck; so are the created files. OnOpen and OnClose reach the
// GUI thread through SynchronizeDSPCall.
class TMMCustomWaveFile : public TMMCustomFile {
 public:
  // Free bytes of the volume holding path; false when they cannot be read.
  using TDiskFreeQuery = std::function<bool(const std::string& path, int64_t& free)>;
  // Room a sink keeps free beyond its I/O buffer and the buffer being written.
  static constexpr int64_t kDiskReserve = 10240;
  // How long a free-space answer stands; the writes meanwhile are taken off it.
  static constexpr std::chrono::seconds kFreeSpaceAge{1};

  explicit TMMCustomWaveFile(TComponent* owner = nullptr);
  ~TMMCustomWaveFile() override;

  TMMWave* Wave() const { return wave_.get(); }
  // Copies the given wave's settings and file into the own one.
  void SetWave(const TMMWave* wave) { wave_->Assign(wave); }
  // Existing files are never replaced, whatever this says: creating a recording
  // over a taken name raises EMMWaveFileExists, unless a free-name rule is set.
  bool OverwriteExisting() const { return overwrite_existing_; }
  void SetOverwriteExisting(bool value) { overwrite_existing_ = value; }
  // Where the free-space rule asks; GetDiskFree unless replaced.
  void SetDiskFreeQuery(TDiskFreeQuery query);
  // Gives the name to create instead of one someone else took meanwhile (another
  // recorder sharing the folder); empty gives up. Without one, or once it gave up,
  // a taken name fails the create.
  using TFreeName = std::function<std::string(const std::string& taken)>;
  void SetFreeName(TFreeName free_name);
  // The largest file a sink writes (the RIFF limit unless smaller); taken by files
  // created afterwards.
  uint64_t MaxFileSize() const { return max_file_size_.load(); }
  void SetMaxFileSize(uint64_t bytes) { max_file_size_.store(bytes); }
  // Data bytes in the file being written.
  int64_t DataBytes() const { return data_bytes_.load(); }
  // Frames handed to the sink since its file opened that a failure kept from the
  // disk: the part of the failed write that did not reach it, and what came after.
  uint64_t LostFrames() const;
  // Why the sink closed itself ("Not enough space on the disk", "Write error: ...");
  // empty while it writes. Cleared when a file is opened.
  std::string WriteFailure() const;
  // The sink finishes its file before the next buffer and goes on in a new file of
  // this name.
  void SplitTo(const std::string& name);
  // The name of a file finished by a split, oldest first; empty when none is left.
  std::string TakeFinishedSplit();
  // A written file that could not be finished on closing or splitting ("NAME: not
  // finished on the disk (REASON)"), oldest first; empty when none is left.
  std::string TakeCloseFailure();
  // While set, every file the sink creates is kept for TakeCreatedFile.
  void SetKeepCreatedFiles(bool keep) { keep_created_.store(keep); }
  // A file the sink created, oldest first; an empty name when none is left.
  TCreatedFile TakeCreatedFile();

  void SetPWaveFormat(PWaveFormatEx f) override;
  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void Closed() override;
  void BufferReady(WAVEHDR* lpWaveHdr) override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

  static TMMAudioFileType ClassFileType() { return TMMAudioFileType::ftWave; }
  TMMAudioFileType FileType() const override { return ClassFileType(); }
  // A RIFF/WAVE file whose extension, if any, is ".wav".
  static bool CanLoad(const std::string& name, const TMMDecryptCallback& = {}, uint8_t = 0);
  // Kind, name and length; false for a name that does not parse as a wave.
  static bool GetFileInfo(const std::string& name, TMMFileInfo& info);
  static std::string GetFilter();
  static std::string GetExtensions() { return "*.wav"; }
  int32_t GetBlockSize() const override;
  bool GetEmpty() const override;
  int64_t GetTime() const override;
  std::string GetFileName() const override { return wave_->FileName(); }
  // A new file drops the seek made on the last one before its Play.
  void SetFileName(const std::string& name) override;
  int64_t GetPosition() const override { return wave_->GetPosition(); }
  // A position set while the source is open and not started is where it starts.
  void SetPosition(int64_t position) override;
  int64_t GetTimePosition() const override;
  int64_t GetLeadSamples() const override { return wave_->LeadSamples(); }
  void SetTimePosition(int64_t ms) override;

  bool FileOpened() const { return file_opened_.load(); }

  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TNotifyEvent OnLooping;

 private:
  void WaveChanged();
  bool HoldsData() const;
  void MoveTo(int64_t position);
  // Opens the file under the lock; true when it is open.
  bool OpenFile();
  // Finishes the file under the lock; true when this call closed it.
  bool CloseFile();
  // The sink's part of BufferReady; false when the sink must close.
  bool WriteBuffer(const WAVEHDR* lpWaveHdr);
  // Under wave_lock_: writes a buffer into the open file; false (with the failure
  // set and the bytes that missed the disk counted) when that failed.
  bool WriteToFile(const WAVEHDR* lpWaveHdr);
  // Under wave_lock_: whether the drive takes bytes more with the room to spare.
  bool HasRoomFor(int64_t bytes);
  // Under wave_lock_: the split asked for; false (with the failure set) when the
  // new file can't be created.
  bool SwitchFile();
  // Under wave_lock_: create(name), and create(the free name) again for each name
  // that was taken.
  template <typename Create>
  decltype(auto) CreateUnderFreeName(std::string name, Create create);
  void SetFailure(const std::string& text);
  // Under wave_lock_: keeps the file just created for TakeCreatedFile when asked to.
  void NoteCreated(const std::string& name);
  // Keeps for TakeCloseFailure that the file could not be finished.
  void NoteCloseFailure(const std::string& name, int error);
  // The source's part of BufferLoad; true when it started over from the beginning.
  bool LoadBuffer(WAVEHDR* lpWaveHdr, bool& MoreBuffers);
  bool Loop(WAVEHDR* lpWaveHdr, bool& MoreBuffers);
  // Runs an event on the GUI thread when it is called on a chain thread.
  void Fire(const TNotifyEvent& event);

  std::unique_ptr<TMMWave> wave_;
  TMMObserver wave_observer_;
  std::mutex wave_lock_;
  int64_t start_position_ = 0;  // where each run of a source starts: where it was opened
  std::optional<int64_t> cued_position_;  // where the next run alone starts; guarded by wave_lock_
  std::atomic<uint8_t> silence_{0};
  std::atomic<bool> file_opened_{false};
  std::atomic<bool> file_started_{false};
  bool overwrite_existing_ = true;
  TDiskFreeQuery disk_free_;
  TFreeName free_name_;  // guarded by wave_lock_
  // The last free-space answer, under wave_lock_: the file whose folder it is for,
  // the bytes left after the writes since, and when it was asked. Asked again
  // after kFreeSpaceAge, for another file, and before any "no room".
  struct FreeSpace {
    std::string file;
    int64_t bytes = -1;
    std::chrono::steady_clock::time_point asked;
  };
  FreeSpace free_space_;
  std::atomic<uint64_t> max_file_size_{kMaxRiffFileSize};
  std::atomic<int64_t> data_bytes_{0};
  std::atomic<int64_t> lost_bytes_{0};
  mutable std::mutex status_lock_;
  std::string split_to_;                  // guarded by status_lock_
  std::vector<std::string> finished_;     // guarded by status_lock_
  std::vector<std::string> close_failures_;  // guarded by status_lock_
  std::string failure_;                   // guarded by status_lock_
  std::atomic<bool> keep_created_{false};
  std::vector<TCreatedFile> created_;     // guarded by status_lock_
};

// The published form.
class TMMWaveFile : public TMMCustomWaveFile {
 public:
  using TMMCustomWaveFile::TMMCustomWaveFile;
};

}  // namespace pmx
