#include "platform/media/av_container.h"

#include <cerrno>

namespace pmx {
namespace {

constexpr int kIoBufferBytes = 32768;
// Audio containers only: no playlists or references that would open other files.
constexpr const char* kContainers = "asf,mp3,ogg,wav,flac,mov,mp4,m4a,matroska,webm,aac";

int ReadSource(void* opaque, uint8_t* buffer, int size) {
  const int64_t got = static_cast<AvContainer::Source*>(opaque)->bytes->Read(buffer, size);
  if (got < 0) return AVERROR(EIO);
  return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

int64_t SourceSize(const AvContainer::Source& source) {
  MediaByteSource& bytes = *source.bytes;
  const int64_t here = bytes.Seek(0, MediaByteSource::kCurrent);
  const int64_t end = bytes.Seek(0, MediaByteSource::kEnd);
  if (here < 0 || end < 0 || bytes.Seek(here, MediaByteSource::kBegin) != here) return -1;
  return end - source.base;
}

int64_t SeekSource(void* opaque, int64_t offset, int whence) {
  const auto& source = *static_cast<AvContainer::Source*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return SourceSize(source);
  if (whence == SEEK_SET) offset += source.base;
  const auto origin = whence == SEEK_CUR   ? MediaByteSource::kCurrent
                      : whence == SEEK_END ? MediaByteSource::kEnd
                                           : MediaByteSource::kBegin;
  const int64_t at = source.bytes->Seek(offset, origin);
  return at < 0 ? -1 : at - source.base;
}

int RefuseToOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

}  // namespace

bool AvContainer::Open(MediaByteSource& source) {
  Close();
  source_ = {&source, source.Seek(0, MediaByteSource::kCurrent)};
  if (!AvLib().complete || source_.base < 0) return false;
  auto* buffer = static_cast<uint8_t*>(AvLib().av_malloc(kIoBufferBytes));
  if (buffer == nullptr) return false;
  avio_.reset(AvLib().avio_alloc_context(buffer, kIoBufferBytes, 0, &source_, &ReadSource, nullptr,
                                         &SeekSource));
  if (!avio_) {
    AvLib().av_free(buffer);
    return false;
  }
  AVFormatContext* format = AvLib().avformat_alloc_context();
  if (format == nullptr) return false;
  format->pb = avio_.get();
  format->io_open = &RefuseToOpen;
  AVDictionary* options = nullptr;
  AvLib().av_dict_set(&options, "format_whitelist", kContainers, 0);
  const int opened = AvLib().avformat_open_input(&format, nullptr, nullptr, &options);
  AvLib().av_dict_free(&options);
  if (opened < 0) return false;  // libav freed the context
  format_.reset(format);
  if (AvLib().avformat_find_stream_info(format, nullptr) >= 0) return true;
  Close();
  return false;
}

void AvContainer::Close() {
  format_.reset();
  avio_.reset();
}

}  // namespace pmx
