#pragma once

#include <memory>
#include <string>

#include "audio/core/chain/connector.h"
#include "audio/core/chain/ring_buffer.h"
#include "audio/core/chain/wave_in.h"
#include "audio/core/files/wave_file.h"
#include "recorder/recording_lifecycle.h"

namespace pmx {

// The main window's recording components: WaveRecorder -> MMConnector1 (the level
// bars' tap) -> MMRingBuffer1 -> WaveFileRecorder, and the monitor input WaveIn ->
// MMConnector2. The ring holds kRingSeconds of the recording's audio and makes the
// capture side wait when it is full, so a stalled disk loses nothing until the
// ring, the capture buffers and the device's own buffer are all full; only then
// does the device overrun, and the loss is counted. Builds and links them as the
// recorder runs them; the main window
// owns this, hangs its level bars on the connectors and hands it to its
// TRecordingLifecycle, whose WaveRecorderStart becomes WaveRecorder's OnStart.
// Threads: the components' own rules (see their headers); everything here runs on
// the GUI thread.
class TRecordingComponents : public TRecordingChain {
 public:
  static constexpr int kRingSeconds = 10;

  // options: where RoomToRecord looks for room.
  explicit TRecordingComponents(const TRecorderOptions& options);
  ~TRecordingComponents() override;

  // Binds WaveRecorder's OnStart to the lifecycle.
  void SetLifecycle(TRecordingLifecycle* lifecycle);

  void SetRecorderPcm(int sample_rate, int channels, int bits) override;
  void SetRecorderFormat(const WaveFormatEx& format) override;
  void SetFileName(const std::string& file_name) override;
  std::string FileName() override;
  void ReleaseFile() override;
  void StartRecorder() override;
  void StopRecorder() override;
  void PauseRecorder() override { WaveRecorder.Pause(); }
  void RestartRecorder() override { WaveRecorder.Restart(); }
  bool StartMonitor() override;
  std::string Fault() override;
  uint64_t LostFrames() override { return WaveRecorder.LostFrames(); }
  uint64_t Overruns() override { return WaveRecorder.Overruns(); }
  uint64_t WriteLostFrames() override { return WaveFileRecorder.LostFrames(); }
  uint32_t CaptureRate() override;
  bool RoomToRecord() override;
  bool NearSizeLimit() override;
  int64_t WrittenMs() override;
  void SplitFile(const std::string& file_name) override { WaveFileRecorder.SplitTo(file_name); }
  std::string TakeFinishedSplit() override { return WaveFileRecorder.TakeFinishedSplit(); }
  std::string TakeCloseFailure() override { return WaveFileRecorder.TakeCloseFailure(); }
  TCreatedFile TakeCreatedFile() override { return WaveFileRecorder.TakeCreatedFile(); }

  TMMWaveIn WaveRecorder;
  TMMConnector MMConnector1;
  TMMRingBuffer MMRingBuffer1;
  TMMWaveFile WaveFileRecorder;
  TMMWaveIn WaveIn;
  TMMConnector MMConnector2;

 private:
  // Bytes per second of the recording's format.
  int64_t ByteRate() const;
  // Removes file when it holds no audio (a failed start made it).
  void RemoveUnusedFile(const std::string& file);

  const TRecorderOptions& options_;
  // The sink created its file in the current start (GUI thread).
  bool file_created_ = false;
};

}  // namespace pmx
