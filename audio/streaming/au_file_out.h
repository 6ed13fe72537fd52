#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/streaming/au_file_stream.h"
#include "audio/streaming/au_output.h"

namespace pmx {

// An output that writes to a stream: one given from outside (assigned, never
// opened or freed here) or one it opens itself.
//
// Threads: the stream is set on the GUI thread while no run goes on and used by
// the worker during a run.
class TAuStreamedOutput : public TAuOutput {
 public:
  using TAuOutput::TAuOutput;

  TStream* Stream() const { return stream_; }
  // Not owned; null returns to a stream of the output's own.
  void SetStream(TStream* stream) {
    stream_ = stream;
    stream_assigned_ = stream != nullptr;
  }
  bool StreamAssigned() const { return stream_assigned_; }

 protected:
  // Writes all of count bytes or raises EAuException: a short write is lost data.
  void WriteAll(const void* buffer, int64_t count);
  // Drops a stream opened here; an assigned one is left alone.
  void ReleaseStream();

  TStream* stream_ = nullptr;
  bool stream_assigned_ = false;
  std::unique_ptr<TStream> owned_stream_;
};

enum class TFileOutputMode { foRewrite, foAppend };

// An output to a named file.
class TAuFileOut : public TAuStreamedOutput {
 public:
  using TAuStreamedOutput::TAuStreamedOutput;

  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name) { file_name_ = name; }
  uint16_t ShareMode() const { return share_mode_; }
  void SetShareMode(uint16_t mode) { share_mode_ = mode; }
  TFileOutputMode FileMode() const { return file_mode_; }
  // Outputs that cannot append keep foRewrite.
  virtual void SetFileMode(TFileOutputMode) { file_mode_ = TFileOutputMode::foRewrite; }

 protected:
  // Opens the file (unless a stream is assigned): appended to when asked and it
  // exists, else created anew. Raises "File name is not assigned." for no name.
  void OpenFile();

  std::string file_name_;
  uint16_t share_mode_ = 0;
  TFileOutputMode file_mode_ = TFileOutputMode::foRewrite;
};

}  // namespace pmx
