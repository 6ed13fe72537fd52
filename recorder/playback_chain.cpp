#include "recorder/playback_chain.h"

#include <algorithm>
#include <cctype>

#include "audio/core/dsp/wave_format.h"

namespace pmx {
namespace {

constexpr int32_t kWaveOutBuffers = 15;
constexpr int32_t kWaveOutBufferSize = 20480;
constexpr uint32_t kFramesInBuffer = 32768;
constexpr uint32_t kPollingInterval = 200;

std::optional<int64_t> TwoDigits(const std::string& text, size_t at) {
  if (!std::isdigit(static_cast<unsigned char>(text[at])) || !std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
    return std::nullopt;
  }
  return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::string AtLeastTwoDigits(int64_t value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

TPlaybackComponents::TPlaybackComponents(SoundSystem* system)
    : DXAudioOut1(nullptr, system), DXAudioOut2(nullptr, system) {
  WaveOut.SetNumBuffers(kWaveOutBuffers);
  WaveOut.SetBufferSize(kWaveOutBufferSize);
  WaveOut.SetCallBackMode(TMMCBMode::cmThread);
  WaveOut.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  WaveOut.SetInput(&AudioFile);
  VorbisIn1.SetLoop(false);
  MP3In1.SetLoop(false);
  MP3In1.SetOutputChannels(cnMonoOrStereo);
  for (TDXAudioOut* output : {&DXAudioOut1, &DXAudioOut2}) {
    output->SetFramesInBuffer(kFramesInBuffer);
    output->SetPollingInterval(kPollingInterval);
  }
  DXAudioOut1.SetPrefetchData(false);
  DXAudioOut1.SetInput(&VorbisIn1);
  DXAudioOut2.SetInput(&MP3In1);
}

TPlaybackComponents::~TPlaybackComponents() {
  StopAll();
  WaveOut.Close();
}

void TPlaybackComponents::LoadWave(const std::string& path) {
  AudioFile.SetFileName(path);
  // A header without samples (a recording stopped at once, or a broken header)
  // would only fail later in the device, as if the sound card had refused.
  if (AudioFile.GetEmpty()) throw EMMAudioError(path + " holds no sound to play.");
  // So would a coded format no decoder takes (one that disagrees with itself).
  const PWaveFormatEx format = AudioFile.PWaveFormat();
  if (format && format->wFormatTag() != WAVE_FORMAT_PCM && format->wFormatTag() != WAVE_FORMAT_IEEE_FLOAT) {
    const std::string name = wfGetFormatName(format);
    AudioFile.SetFileName("");
    throw EMMAudioError(path + ": its " + name + " format cannot be decoded.");
  }
}

int64_t TPlaybackComponents::WavePosition() {
  if (!(WaveOut.State() & wsStarted)) return AudioFile.GetTimePosition();
  return std::min(AudioFile.StartPosition() + WaveOut.GetPosition(), AudioFile.FileLength());
}

void TPlaybackComponents::StopAll() {
  WaveOut.Stop();
  for (TDXAudioOut* output : {&DXAudioOut1, &DXAudioOut2}) {
    if (output->GetStatus() != TAuStatus::kIdle) output->Stop(false);
  }
}

void TPlaybackComponents::SetDevice(int id, const std::string& wave_out_name) {
  WaveOut.SetDeviceID(id);
  const std::vector<SoundDevice>& devices = DXAudioOut1.Devices();
  int number = 0;
  for (size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].description == wave_out_name) number = static_cast<int>(i);
  }
  DXAudioOut1.SetDeviceNumber(number);
  DXAudioOut2.SetDeviceNumber(number);
}

std::optional<int64_t> StartSecond(const std::string& display_name) {
  if (display_name.size() < 17) return std::nullopt;
  const auto hours = TwoDigits(display_name, 9);
  const auto minutes = TwoDigits(display_name, 12);
  const auto seconds = TwoDigits(display_name, 15);
  if (!hours || !minutes || !seconds) return std::nullopt;
  return *hours * 3600 + *minutes * 60 + *seconds;
}

std::string PositionText(int64_t second) {
  return "Position : " + AtLeastTwoDigits(second / 3600) + ":" + AtLeastTwoDigits(second % 3600 / 60) + ":" +
         AtLeastTwoDigits(second % 60);
}

}  // namespace pmx
