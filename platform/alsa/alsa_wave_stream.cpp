#include "platform/alsa/alsa_wave_stream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/alsa/alsa_pcm.h"

namespace pmx {
namespace {

// A suspended device is recovered like an xrun: the owner's Prepare makes it
// usable again.
long Transferred(snd_pcm_sframes_t result) {
  return IsAlsaXrun(result) ? -EPIPE : static_cast<long>(result);
}

}  // namespace

AlsaWaveStream::AlsaWaveStream(snd_pcm_t* pcm)
    : pcm_(pcm), wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

AlsaWaveStream::~AlsaWaveStream() {
  snd_pcm_close(pcm_);
  if (wake_fd_ >= 0) close(wake_fd_);
}

int AlsaWaveStream::Configure(const WaveFormatEx& format, unsigned buffer_ms, unsigned wake_ms) {
  if (wake_fd_ < 0) return -errno;
  sample_ = AlsaSampleFormat(format);
  if (sample_ == SND_PCM_FORMAT_UNKNOWN) return -EINVAL;
  channels_ = format.nChannels();
  rate_ = format.nSamplesPerSec();
  buffer_us_ = buffer_ms * 1000;
  // Capture starts with short periods, so that small buffers (level meters) flow
  // evenly; SetWakeFrames lengthens them for a recorder's larger buffers.
  const bool capture = snd_pcm_stream(pcm_) == SND_PCM_STREAM_CAPTURE;
  const unsigned wake_us = capture ? wake_ms * 1000 : 0;
  least_wake_frames_ = static_cast<snd_pcm_uframes_t>(uint64_t{wake_us} * rate_ / 1000000);
  int error = Setup(capture ? std::max(std::min(buffer_us_ / 4, 20000u), wake_us) : buffer_us_ / 4);
  if (error < 0) return error;
  const int count = snd_pcm_poll_descriptors_count(pcm_);
  if (count < 0) return count;
  fds_.assign(static_cast<std::size_t>(count) + 1, pollfd{});
  fds_[0] = pollfd{wake_fd_, POLLIN, 0};
  error = snd_pcm_poll_descriptors(pcm_, fds_.data() + 1, static_cast<unsigned>(count));
  return error < 0 ? error : 0;
}

int AlsaWaveStream::Setup(unsigned period_us) {
  const AlsaPcmRequest request{.sample = sample_, .channels = channels_, .rate = rate_,
                               .buffer_us = buffer_us_, .period_us = period_us, .time_stamps = true};
  AlsaPcmGeometry got;
  const int error = SetUpAlsaPcm(pcm_, request, got);
  // Sizes the device took stand even when it then refuses the software parameters.
  if (got.period_frames > 0) {
    buffer_frames_ = got.buffer_frames;
    period_frames_ = wake_frames_ = got.period_frames;
    can_pause_ = got.can_pause;
  }
  return error;
}

int AlsaWaveStream::Start() {
  started_ = true;
  return snd_pcm_start(pcm_);
}

int AlsaWaveStream::Pause(bool enable) {
  return can_pause_ ? snd_pcm_pause(pcm_, enable ? 1 : 0) : -ENOSYS;
}

long AlsaWaveStream::Read(void* data, uint32_t frames) {
  return Transferred(snd_pcm_readi(pcm_, data, frames));
}

long AlsaWaveStream::Write(const void* data, uint32_t frames) {
  return Transferred(snd_pcm_writei(pcm_, data, frames));
}

long AlsaWaveStream::Avail() { return Transferred(snd_pcm_avail(pcm_)); }

long AlsaWaveStream::Delay() {
  snd_pcm_sframes_t delay = 0;
  const int error = snd_pcm_delay(pcm_, &delay);
  return error < 0 ? Transferred(error) : static_cast<long>(delay);
}

void AlsaWaveStream::Wait(bool device, int timeout_ms) {
  const nfds_t count = device ? fds_.size() : 1;
  for (pollfd& fd : fds_) fd.revents = 0;
  if (poll(fds_.data(), count, timeout_ms) <= 0) return;
  if (fds_[0].revents & POLLIN) {
    uint64_t value;
    [[maybe_unused]] const ssize_t got = read(wake_fd_, &value, sizeof value);
  }
  if (device) {
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm_, fds_.data() + 1, static_cast<unsigned>(count - 1),
                                     &revents);
    if (revents == 0 && !(fds_[0].revents & POLLIN)) HoldOff(timeout_ms);
  }
}

void AlsaWaveStream::HoldOff(int timeout_ms) {
  // A sound server's descriptor turns ready for any frames, before the ones asked
  // for are there: the rest is waited for on the wake-up descriptor alone, not in
  // a loop of polls that return at once.
  const long avail = Avail();
  if (avail < 0 || static_cast<snd_pcm_uframes_t>(avail) >= wake_frames_) return;
  int ms = static_cast<int>((wake_frames_ - static_cast<snd_pcm_uframes_t>(avail)) * 1000 /
                            std::max(rate_, 1u)) + 1;
  if (timeout_ms >= 0) ms = std::min(ms, timeout_ms);
  fds_[0].revents = 0;
  if (poll(fds_.data(), 1, ms) > 0 && (fds_[0].revents & POLLIN)) {
    uint64_t value;
    [[maybe_unused]] const ssize_t got = read(wake_fd_, &value, sizeof value);
  }
}

void AlsaWaveStream::SetWakeFrames(uint32_t asked) {
  const snd_pcm_uframes_t frames = std::max<snd_pcm_uframes_t>(asked, least_wake_frames_);
  // Every period wakes the sound server's thread and this one: a capture that was
  // never started takes periods as long as the buffers it fills (the poll
  // descriptors stay those of the PCM). A device that refuses them keeps its short
  // ones: slower, never wrong.
  if (frames > period_frames_ && !started_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
    const auto period_us = [this](snd_pcm_uframes_t count) {
      return static_cast<unsigned>(count * 1000000 / std::max(rate_, 1u));
    };
    const unsigned short_period_us = period_us(period_frames_);
    const snd_pcm_uframes_t longest = std::max(period_frames_, buffer_frames_ / 2);
    if (Setup(period_us(std::min<snd_pcm_uframes_t>(frames, longest))) < 0) Setup(short_period_us);
  }
  const snd_pcm_uframes_t wanted = std::clamp<snd_pcm_uframes_t>(
      frames, period_frames_, std::max(period_frames_, buffer_frames_ / 2));
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm_, sw) < 0) return;
  if (snd_pcm_sw_params_set_avail_min(pcm_, sw, wanted) < 0) return;
  if (snd_pcm_sw_params(pcm_, sw) >= 0) wake_frames_ = wanted;
}

uint64_t AlsaWaveStream::LostFrames() {
  snd_pcm_status_t* status;
  snd_pcm_status_alloca(&status);
  if (snd_pcm_status(pcm_, status) < 0) return buffer_frames_;
  snd_htimestamp_t now{};
  snd_htimestamp_t overrun{};
  snd_pcm_status_get_htstamp(status, &now);
  snd_pcm_status_get_trigger_htstamp(status, &overrun);
  if (now.tv_sec == 0 && now.tv_nsec == 0) clock_gettime(CLOCK_MONOTONIC, &now);
  const double seconds = static_cast<double>(now.tv_sec - overrun.tv_sec) +
                         static_cast<double>(now.tv_nsec - overrun.tv_nsec) / 1e9;
  // A stamp from another clock or none at all: count only the buffer.
  if (overrun.tv_sec == 0 || seconds < 0 || seconds > 3600) return buffer_frames_;
  return buffer_frames_ + static_cast<uint64_t>(seconds * rate_);
}

bool AlsaWaveStream::ReadClock(Clock& clock) {
  snd_pcm_status_t* status;
  snd_pcm_status_alloca(&status);
  if (snd_pcm_status(pcm_, status) < 0 || snd_pcm_status_get_state(status) != SND_PCM_STATE_RUNNING) {
    return false;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ns = [](const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
  snd_htimestamp_t stamp{};
  snd_pcm_status_get_htstamp(status, &stamp);
  // The stamp tells when the device last moved its pointer, which the frames ready
  // belong to; one from another clock, or none, is replaced by the time now.
  const int64_t at = ns(stamp);
  const bool usable = at > 0 && at <= ns(now) && ns(now) - at < 1'000'000'000;
  // A sound server keeps what its client did not take (seconds of it) beyond the
  // buffer it shows: once that buffer is full, its delay counts the rest, so what it
  // still holds for a reader that is behind is not taken for lost. (Before, the
  // delay may count frames that are still on their way.)
  const snd_pcm_uframes_t avail = snd_pcm_status_get_avail(status);
  const snd_pcm_sframes_t delay = snd_pcm_status_get_delay(status);
  const bool full = avail + period_frames_ >= buffer_frames_;
  clock.ready = full && delay > 0 ? std::max<uint64_t>(avail, static_cast<uint64_t>(delay)) : avail;
  clock.stamp_ns = usable ? at : ns(now);
  clock.unseen = period_frames_;
  return true;
}

void AlsaWaveStream::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t put = write(wake_fd_, &one, sizeof one);
}

}  // namespace pmx
