#include "audio/streaming/au_file_out.h"

#include <filesystem>

#include "audio/streaming/streaming.h"

namespace pmx {

void TAuStreamedOutput::WriteAll(const void* buffer, int64_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int64_t put = stream_ ? stream_->Write(bytes, count) : -1;
    if (put <= 0) throw EAuException("Could not write to the output stream");
    bytes += put;
    count -= put;
  }
}

void TAuStreamedOutput::ReleaseStream() {
  if (stream_assigned_) return;
  owned_stream_.reset();
  stream_ = nullptr;
}

void TAuFileOut::OpenFile() {
  if (stream_assigned_) return;
  if (file_name_.empty()) throw EAuException("File name is not assigned.");
  std::error_code error;
  const bool append = file_mode_ == TFileOutputMode::foAppend && std::filesystem::exists(file_name_, error);
  owned_stream_ = std::make_unique<TAuFileStream>(file_name_, append ? uint16_t(share_mode_ | 2) : TAuFileStream::kCreate);
  stream_ = owned_stream_.get();
}

}  // namespace pmx
