#include "recorder/recording_chain.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "audio/core/objects/utilities.h"
#include "recorder/recorder_options.h"
#include "recorder/recording_files.h"

namespace pmx {
namespace {

constexpr int kRecorderBuffers = 20;
constexpr int kRecorderBufferSize = 16000;
constexpr int kRingBufferSize = 8192;
constexpr int kFileIOBufferSize = 8192;
constexpr int kMonitorBufferSize = 4096;
// A new recording starts only with room for this much audio beyond the sink's own
// reserve, so a disk that just freed a few bytes is not filled with stubs.
constexpr int64_t kRoomSeconds = 60;
// The header and trailer a recording may carry besides its data.
constexpr int64_t kFileOverhead = 4096;

}  // namespace

TRecordingComponents::TRecordingComponents(const TRecorderOptions& options) : options_(options) {
  WaveRecorder.SetNumBuffers(kRecorderBuffers);
  WaveRecorder.SetBufferSize(kRecorderBufferSize);
  WaveRecorder.SetCallBackMode(TMMCBMode::cmThread);
  WaveRecorder.SetPriority(TThreadPriority::tpHighest);
  WaveRecorder.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  MMRingBuffer1.SetBufferSize(kRingBufferSize);
  MMRingBuffer1.SetQueueMode(TMMQueueMode::qmWrite);
  MMRingBuffer1.SetWaitIfFull(true);
  WaveFileRecorder.Wave()->SetIOBufferSize(kFileIOBufferSize);
  WaveFileRecorder.Wave()->SetFileMustExist(false);
  WaveFileRecorder.SetKeepCreatedFiles(true);
  WaveFileRecorder.SetFreeName(NextFreeRecordingFileName);
  // The sink creates its file exclusively: a file it opened is this chain's own.
  WaveFileRecorder.OnOpen = [this](TObject*) { file_created_ = true; };
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

int64_t TRecordingComponents::ByteRate() const {
  const WaveFormatEx* format = WaveRecorder.PWaveFormat();
  return format ? std::max<int64_t>(format->nAvgBytesPerSec(), 1) : 1;
}

void TRecordingComponents::StartRecorder() {
  // The ring's slots take whole capture buffers.
  const int64_t ring_bytes = ByteRate() * kRingSeconds;
  MMRingBuffer1.SetNumBuffers(static_cast<int>(
      std::max<int64_t>((ring_bytes + kRecorderBufferSize - 1) / kRecorderBufferSize, kRecorderBuffers)));
  file_created_ = false;
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
    // A file of the name that someone else made (another recorder that took the
    // same second) is never touched: the sink made its own under the next free name.
    if (file_created_) RemoveUnusedFile(FileName());
    throw;
  }
}

// A device that opened but would not start leaves the file the chain made for it
// without a sample; tried again on every tick, such files would pile up.
void TRecordingComponents::RemoveUnusedFile(const std::string& file) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (!error && WaveFileRecorder.DataBytes() == 0 && size <= static_cast<uintmax_t>(kFileOverhead)) {
    std::filesystem::remove(file, error);
  }
}

void TRecordingComponents::StopRecorder() {
  WaveRecorder.Stop();
  WaveRecorder.Close();
}

std::string TRecordingComponents::Fault() {
  const std::string device = WaveRecorder.Failure();
  if (!device.empty()) return "recording device failed: " + device;
  const std::string file = WaveFileRecorder.WriteFailure();
  if (!file.empty()) return "recording file closed: " + file;
  if (!WaveFileRecorder.FileOpened()) return "recording file closed";
  return "";
}

uint32_t TRecordingComponents::CaptureRate() {
  const WaveFormatEx* format = WaveRecorder.PWaveFormat();
  return format ? format->nSamplesPerSec() : 0;
}

bool TRecordingComponents::RoomToRecord() {
  int64_t free = 0;
  int64_t total = 0;
  if (!GetDiskFree(options_.RecordingFolder, free, total)) return false;
  return free >= kRoomSeconds * ByteRate() + WaveFileRecorder.Wave()->IOBufferSize() +
                     TMMCustomWaveFile::kDiskReserve;
}

bool TRecordingComponents::NearSizeLimit() {
  // What the ring may still hold arrives at the file before a split takes effect.
  const int64_t room = static_cast<int64_t>(WaveFileRecorder.MaxFileSize()) - kFileOverhead -
                       WaveFileRecorder.DataBytes();
  return room < 2 * (int64_t{MMRingBuffer1.NumBuffers()} * kRecorderBufferSize + ByteRate());
}

int64_t TRecordingComponents::WrittenMs() {
  return WaveFileRecorder.DataBytes() * 1000 / ByteRate();
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
