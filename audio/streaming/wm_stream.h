#pragma once

#include "audio/streaming/au_file_stream.h"
#include "platform/media/media_reader.h"

namespace pmx {

// Hands a TStream, not owned, to a media reader. Used by the reader's thread only.
class TAudioStream : public MediaByteSource {
 public:
  explicit TAudioStream(TStream& stream) : stream_(stream) {}
  int64_t Read(void* buffer, int64_t count) override { return stream_.Read(buffer, count); }
  int64_t Seek(int64_t offset, Origin origin) override {
    return stream_.Seek(offset, static_cast<TStream::Origin>(origin));
  }

 private:
  TStream& stream_;
};

}  // namespace pmx
