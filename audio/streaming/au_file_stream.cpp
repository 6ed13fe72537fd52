#include "audio/streaming/au_file_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "audio/streaming/streaming.h"

namespace pmx {
namespace {

int OpenFlags(uint16_t mode) {
  if (mode == TAuFileStream::kCreate) return O_RDWR | O_CREAT | O_TRUNC;
  switch (mode & 3) {
    case 1: return O_WRONLY;
    case 2: return O_RDWR;
    default: return O_RDONLY;
  }
}

}  // namespace

int64_t TStream::Size() {
  const int64_t here = Position();
  const int64_t end = Seek(0, soEnd);
  Seek(here, soBeginning);
  return end;
}

int64_t THandleStream::Read(void* buffer, int64_t count) {
  ssize_t got;
  do {
    got = read(handle_, buffer, static_cast<size_t>(count));
  } while (got < 0 && errno == EINTR);
  return got;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  ssize_t put;
  do {
    put = write(handle_, buffer, static_cast<size_t>(count));
  } while (put < 0 && errno == EINTR);
  return put;
}

int64_t THandleStream::Seek(int64_t offset, Origin origin) {
  const int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
  return lseek(handle_, offset, whence);
}

TAuFileStream::TAuFileStream(const std::string& file_name, uint16_t mode)
    : THandleStream(open(file_name.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666)) {
  if (handle_ < 0) throw EAuException(std::strerror(errno));
}

TAuFileStream::~TAuFileStream() { close(handle_); }

}  // namespace pmx
