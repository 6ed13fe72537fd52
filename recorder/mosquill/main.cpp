// mosquill: encodes one recording of the recorder to MP3 with Debian's lame.
//
// Arguments as the recorder writes them: the WAV file with "*" for every blank, the
// bitrate in kbps, the window's left and top (no window here), the start delay in
// milliseconds, and "delete" when the WAV is to go once its MP3 is complete.
//
// The WAV is read by the same reader as kobrinvert's, so what one refuses the other
// refuses too, and a recording whose header undercounts its data is encoded whole.
// Where its samples are 16-bit and run to the end of the file, lame reads them from
// the file itself; anything else reaches lame through a pipe, as the reader gives it.
// The MP3 is made under a name of its own and replaces an older one only when its
// frames hold as long as the WAV; only then may the WAV be deleted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "audio/streaming/decoded_length.h"
#include "audio/streaming/wav_in.h"
#include "platform/unique_fd.h"
#include "recorder/mosquill/lame_pipe.h"
#include "recorder/mosquill/mp3_length.h"

namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() < 9 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct Refusal {
  std::string why;
};

// A descriptor of its own on the WAV at its first sample when the bytes the reader
// hands out are 16-bit samples running from there to the end of the file, so lame
// can read them itself at its own pace rather than through a pipe; none when a
// byte would differ (converted samples, a chunk or a piece of a frame after them).
pmx::UniqueFd SamplesAsStored(pmx::TWaveIn& wav) {
  const int64_t offset = wav.StoredDataOffset();
  const auto* file = dynamic_cast<const pmx::THandleStream*>(wav.Stream());
  if (offset < 0 || wav.GetBitsPerSample() != 16 || file == nullptr) return {};
  const std::string reopen = "/proc/self/fd/" + std::to_string(file->Handle());
  pmx::UniqueFd own(open(reopen.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!own || fstat(own.get(), &status) != 0 || status.st_size != offset + wav.Size() ||
      lseek(own.get(), offset, SEEK_SET) != offset) {
    return {};
  }
  return own;
}

// Has lame encode every sample of the WAV; the frames it was given.
int64_t Encode(pmx::TWaveIn& wav, int kbps, const std::string& part) {
  if (pmx::UniqueFd samples = SamplesAsStored(wav)) {
    pmx::TLamePipe lame(kbps, wav.GetSampleRate(), wav.GetChannels(), part, samples.get());
    samples.Reset();
    if (!lame.Finish()) throw Refusal{"lame failed"};
    return wav.Size() / wav.BytesPerFrame();
  }
  pmx::TLamePipe lame(kbps, wav.GetSampleRate(), wav.GetChannels(), part);
  const int bits = wav.GetBitsPerSample();
  std::string pcm;
  const int64_t bytes = pmx::FetchAll(wav, [&](const uint8_t* data, uint32_t count) {
    if (bits != 16) {  // 16-bit samples go as they are
      pcm.clear();
      pmx::AppendPcm16(data, count, bits, pcm);
      data = reinterpret_cast<const uint8_t*>(pcm.data());
      count = static_cast<uint32_t>(pcm.size());
    }
    if (!lame.Write(data, count)) throw Refusal{"lame stopped taking samples"};
  });
  if (!lame.Finish()) throw Refusal{"lame failed"};
  return bytes / wav.BytesPerFrame();
}

// lame delays the audio by 576 sample frames and pads its end with 576 more and
// then silence up to the end of an MP3 frame; its info tag names both, unless a
// frame is too small to hold the tag. Compared at the MP3's rate, since lame may
// resample, which may round the length by a frame either way.
void CheckLength(const std::string& part, int64_t frames, int rate) {
  constexpr int kLameDelay = 576;
  const std::optional<pmx::TMp3Length> mp3 = pmx::StatedMp3Length(part);
  if (!mp3 || mp3->rate <= 0) throw Refusal{"the MP3 made of it is short or damaged"};
  const double expected = static_cast<double>(frames) * mp3->rate / rate;
  const double slack = mp3->rate == rate ? 0 : 1;
  const double over = static_cast<double>(mp3->samples - mp3->trimmed.value_or(2 * kLameDelay)) - expected;
  const double most = mp3->trimmed ? slack : mp3->frame_samples + slack;
  if (over < -slack || over > most) {
    throw Refusal{"the MP3 made of it holds " + std::to_string(mp3->samples) + " frames at " + std::to_string(mp3->rate) +
                  " Hz for " + std::to_string(frames) + " at " + std::to_string(rate) + " Hz"};
  }
}

void EncodeWav(const std::string& wav_path, int kbps, const std::string& part, const std::string& mp3) {
  pmx::TWaveIn wav;
  wav.SetFileName(wav_path);
  int64_t frames = 0;
  int rate = 0;
  try {
    wav.Init();
    rate = wav.GetSampleRate();
    if (wav.GetChannels() > 2) throw Refusal{"MP3 holds one or two channels, not " + std::to_string(wav.GetChannels())};
    frames = Encode(wav, kbps, part);
  } catch (const std::runtime_error& e) {  // the reader's errors and lame's start
    throw Refusal{e.what()};
  }
  wav.Flush();
  CheckLength(part, frames, rate);
  std::error_code error;
  std::filesystem::rename(part, mp3, error);
  if (error) throw Refusal{"could not make \"" + mp3 + "\": " + error.message()};
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a lame that died is seen at the write
  if (argc < 3) {
    std::fprintf(stderr, "usage: mosquill WAV KBPS [LEFT TOP DELAY_MS [delete]]\n");
    return 2;
  }
  std::string wav = argv[1];
  std::replace(wav.begin(), wav.end(), '*', ' ');
  const std::string kbps = argv[2];
  if (!AllDigits(kbps)) {
    std::fprintf(stderr, "mosquill: not a bitrate: %s\n", kbps.c_str());
    return 2;
  }
  const std::string delay = argc > 5 ? argv[5] : "0";
  const bool remove_wav = argc > 6 && std::string(argv[6]) == "delete";
  std::this_thread::sleep_for(std::chrono::milliseconds(AllDigits(delay) ? std::atoi(delay.c_str()) : 0));

  // The MP3 takes the WAV's name with its last three characters made "mp3".
  const std::string mp3 = wav.size() >= 3 ? wav.substr(0, wav.size() - 3) + "mp3" : "";
  const std::string part = mp3 + ".part";
  std::error_code error;
  try {
    if (mp3.empty() || mp3 == wav) throw Refusal{"not a WAV file"};
    std::filesystem::remove(part, error);
    EncodeWav(wav, std::atoi(kbps.c_str()), part, mp3);
  } catch (const Refusal& refusal) {
    std::filesystem::remove(part, error);
    std::fprintf(stderr, "mosquill: \"%s\" kept: %s\n", wav.c_str(), refusal.why.c_str());
    return 1;
  }
  if (remove_wav && !std::filesystem::remove(wav, error)) {
    std::fprintf(stderr, "mosquill: could not delete \"%s\": %s\n", wav.c_str(), error.message().c_str());
  }
  return 0;
}
