#pragma once

#include <cstdint>

#include "platform/media/av_library.h"
#include "platform/media/media_reader.h"

namespace pmx {

// A container opened by libavformat over a byte source. libav reads through the
// source's own Read and Seek, with offsets counted from where the source stood
// at open. Only audio container formats are probed, and nothing in a file makes
// libav open another file or address. Used by one thread at a time; the source
// must outlive the open container.
class AvContainer {
 public:
  AvContainer() = default;
  AvContainer(const AvContainer&) = delete;
  AvContainer& operator=(const AvContainer&) = delete;

  // False when the bytes are no container accepted here or its streams cannot be found.
  bool Open(MediaByteSource& source);
  void Close();
  // Null while closed.
  AVFormatContext* Format() const { return format_.get(); }

  struct Source {
    MediaByteSource* bytes = nullptr;
    int64_t base = 0;
  };

 private:
  Source source_;
  AvOwned<AVIOContext> avio_;
  AvOwned<AVFormatContext> format_;
};

}  // namespace pmx
