#pragma once

#include <memory>
#include <string>

#include "audio/core/connector.h"
#include "audio/core/ring_buffer.h"
#include "audio/core/wave_file.h"
#include "audio/core/wave_in.h"
#include "recorder/recording_lifecycle.h"

namespace pmx {

// The main window's recording components: WaveRecorder -> MMConnector1 (the level
// bars' tap) -> MMRingBuffer1 -> WaveFileRecorder, and the monitor input WaveIn ->
// MMConnector2. Builds and links them as the recorder runs them; the main window
// owns this, hangs its level bars on the connectors and hands it to its
// TRecordingLifecycle, whose WaveRecorderStart becomes WaveRecorder's OnStart.
// Threads: the components' own rules (see their headers); everything here runs on
// the GUI thread.
class TRecordingComponents : public TRecordingChain {
 public:
  TRecordingComponents();
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

  TMMWaveIn WaveRecorder;
  TMMConnector MMConnector1;
  TMMRingBuffer MMRingBuffer1;
  TMMWaveFile WaveFileRecorder;
  TMMWaveIn WaveIn;
  TMMConnector MMConnector2;
};

}  // namespace pmx
