#include "recorder/recording_chain.h"

namespace pmx {
namespace {

constexpr int kRecorderBuffers = 20;
constexpr int kRecorderBufferSize = 16000;
constexpr int kRingBufferSize = 8192;
constexpr int kFileIOBufferSize = 8192;
constexpr int kMonitorBufferSize = 4096;

}  // namespace

TRecordingComponents::TRecordingComponents() {
  WaveRecorder.SetNumBuffers(kRecorderBuffers);
  WaveRecorder.SetBufferSize(kRecorderBufferSize);
  WaveRecorder.SetCallBackMode(TMMCBMode::cmThread);
  WaveRecorder.SetPriority(TThreadPriority::tpHighest);
  WaveRecorder.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  MMRingBuffer1.SetBufferSize(kRingBufferSize);
  MMRingBuffer1.SetQueueMode(TMMQueueMode::qmWrite);
  WaveFileRecorder.Wave()->SetIOBufferSize(kFileIOBufferSize);
  WaveFileRecorder.Wave()->SetFileMustExist(false);
  WaveRecorder.SetOutput(&MMConnector1);
  MMConnector1.SetOutput(&MMRingBuffer1);
  MMRingBuffer1.SetOutput(&WaveFileRecorder);
  WaveIn.SetBufferSize(kMonitorBufferSize);
  WaveIn.SetCallBackMode(TMMCBMode::cmThread);
  WaveIn.SetOutput(&MMConnector2);
}

TRecordingComponents::~TRecordingComponents() {
  // The devices first, while the nodes they push into still exist.
  WaveRecorder.Close();
  WaveIn.Close();
}

void TRecordingComponents::SetLifecycle(TRecordingLifecycle* lifecycle) {
  WaveRecorder.OnStart = [lifecycle](TObject*) {
    if (lifecycle != nullptr) lifecycle->WaveRecorderStart();
  };
}

void TRecordingComponents::SetRecorderPcm(int sample_rate, int channels, int bits) {
  if (sample_rate != 0) WaveRecorder.SetSampleRate(sample_rate);
  if (channels != 0) WaveRecorder.SetMode(channels == 1 ? TMMMode::mMono : TMMMode::mStereo);
  if (bits != 0) WaveRecorder.SetBitLength(bits == 8 ? TMMBits::b8Bit : TMMBits::b16Bit);
}

void TRecordingComponents::SetRecorderFormat(const WaveFormatEx& format) {
  WaveFormatEx copy = format;
  WaveRecorder.SetPWaveFormat(&copy);
}

void TRecordingComponents::SetFileName(const std::string& file_name) {
  WaveFileRecorder.Wave()->SetFileName(file_name);
}

std::string TRecordingComponents::FileName() { return WaveFileRecorder.Wave()->FileName(); }

void TRecordingComponents::ReleaseFile() { WaveFileRecorder.Wave()->SetFileName(""); }

void TRecordingComponents::StartRecorder() {
  try {
    WaveIn.Stop();
    WaveIn.Close();
    WaveRecorder.Open();
    WaveRecorder.Start();
  } catch (const Exception&) {
    // Nothing half-open stays behind for the next try.
    try {
      WaveRecorder.Close();
    } catch (const Exception&) {
      // The close reports nothing the start's error does not say already.
    }
    throw;
  }
}

void TRecordingComponents::StopRecorder() {
  WaveRecorder.Stop();
  WaveRecorder.Close();
}

bool TRecordingComponents::StartMonitor() {
  try {
    WaveIn.Open();
    WaveIn.Start();
    return true;
  } catch (const EMMWaveInError&) {
    return false;
  }
}

}  // namespace pmx
