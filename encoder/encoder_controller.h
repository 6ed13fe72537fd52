#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encoder/encode_job.h"

namespace pmx {

// What the controller asks of its window.
class TEncoderView {
 public:
  virtual ~TEncoderView() = default;
  virtual void ShowStatus(const std::string& text) = 0;  // painted at once
  virtual void ShowSource(const std::string& path) = 0;
  virtual void ShowProgress(int percent) = 0;
  virtual void MoveTo(int left, int top) = 0;
  virtual void Minimize() = 0;
  virtual void ArmWatchdog() = 0;
  virtual void ReportError(const std::string& text) = 0;
  virtual void Close() = 0;
};

// Starts a program with arguments (argv[0] excluded); false when it could not.
using TProcessLauncher = std::function<bool(const std::vector<std::string>& arguments)>;

// Integers and the quality as the recorder writes them; nothing else is taken.
std::optional<int> ParseInteger(const std::string& text);
std::optional<float> ParseQuality(const std::string& text);
// The blanks of a path travel as "*".
std::string SourcePath(const std::string& argument);

// The encoder program's logic without its window: the command line (path with
// "*" for blanks, quality, left, top, start delay, "delete"), the encode, the
// watchdog and whether the WAV may go: only once the new .ogg decodes to every
// frame read from it. GUI thread only.
class TEncoderController {
 public:
  static constexpr int kWatchdogMs = 20000;

  TEncoderController(std::vector<std::string> arguments, TEncoderView& view, TEncodeJob& job,
                     TProcessLauncher launcher);
  ~TEncoderController();
  TEncoderController(const TEncoderController&) = delete;
  TEncoderController& operator=(const TEncoderController&) = delete;

  // Places the window; the start delay in milliseconds.
  int FormShow();
  // Checks the arguments and starts the encode.
  void StartEncode();
  void Progress();
  void WatchdogTick();
  void Done();

  // 0 after a finished encode or a restart; 1 when the WAV was not encoded.
  int ExitCode() const { return exit_code_; }
  bool Restarted() const { return restarted_; }
  const std::string& Target() const { return target_; }

 private:
  std::string Argument(size_t index) const;
  void Fail(const std::string& text);
  std::string Unfinished() const;

  std::vector<std::string> arguments_;
  TEncoderView& view_;
  TEncodeJob& job_;
  TProcessLauncher launcher_;
  std::string source_;
  std::string target_;
  std::string part_;
  int64_t last_seen_position_ = 0;
  int64_t watched_position_ = 0;
  bool started_ = false;
  bool restarted_ = false;
  int exit_code_ = 0;
};

}  // namespace pmx
