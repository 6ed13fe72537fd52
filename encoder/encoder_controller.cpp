#include "encoder/encoder_controller.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace pmx {
namespace {

template <class Number>
std::optional<Number> ParseWhole(const std::string& text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

bool NonEmptyFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && std::filesystem::file_size(path, error) > 0 && !error;
}

}  // namespace

std::optional<int> ParseInteger(const std::string& text) { return ParseWhole<int>(text); }

std::optional<float> ParseQuality(const std::string& text) {
  const std::optional<float> value = ParseWhole<float>(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::string SourcePath(const std::string& argument) {
  std::string path = argument;
  std::replace(path.begin(), path.end(), '*', ' ');
  return path;
}

TEncoderController::TEncoderController(std::vector<std::string> arguments, TEncoderView& view, TEncodeJob& job,
                                       TProcessLauncher launcher)
    : arguments_(std::move(arguments)), view_(view), job_(job), launcher_(std::move(launcher)) {
  job_.OnProgress = [this] { Progress(); };
  job_.OnDone = [this] { Done(); };
}

TEncoderController::~TEncoderController() {
  job_.OnProgress = nullptr;
  job_.OnDone = nullptr;
}

std::string TEncoderController::Argument(size_t index) const {
  return index < arguments_.size() ? arguments_[index] : std::string();
}

int TEncoderController::FormShow() {
  watched_position_ = 0;
  const std::optional<int> left = ParseInteger(Argument(2));
  const std::optional<int> top = ParseInteger(Argument(3));
  const std::optional<int> delay = ParseInteger(Argument(4));
  if (!left || !top || !delay || *delay < 0 || *delay == INT32_MAX) {
    view_.MoveTo(0, 0);
    return 1;
  }
  if (*left != 0) {
    view_.MoveTo(*left, *top);
  } else {
    view_.Minimize();
  }
  return *delay + 1;
}

void TEncoderController::Fail(const std::string& text) {
  exit_code_ = 1;
  view_.ReportError(text);
  view_.Close();
}

void TEncoderController::StartEncode() {
  source_ = SourcePath(Argument(0));
  std::error_code error;
  if (!std::filesystem::is_regular_file(source_, error)) return Fail("kobrinvert: no file \"" + source_ + "\"");
  // The target takes the source's name with "ogg" for its last three characters,
  // so a source already so named would be encoded over itself.
  if (source_.size() < 3 || source_.ends_with("ogg")) return Fail("kobrinvert: \"" + source_ + "\" is not a WAV file");
  const std::optional<float> quality = ParseQuality(Argument(1));
  if (!quality) return Fail("kobrinvert: \"" + Argument(1) + "\" is not a valid quality");
  target_ = source_.substr(0, source_.size() - 3) + "ogg";
  // The encode goes into a name of its own: an older .ogg stays until a new one is
  // complete, and a copy that stalled and was restarted leaves its part to this one.
  part_ = target_ + ".part";
  std::filesystem::remove(part_, error);
  try {
    job_.Start(source_, part_, *quality);
  } catch (const std::exception& e) {
    std::filesystem::remove(part_, error);
    return Fail(std::string("kobrinvert: ") + e.what());
  }
  started_ = true;
  view_.ShowSource(source_);
  view_.ShowStatus("Execute");
  view_.ArmWatchdog();
}

void TEncoderController::Progress() {
  view_.ShowStatus("Encode");
  view_.ShowProgress(job_.Progress());
  last_seen_position_ = job_.Position();
}

// The position is read here, not only at progress events, so that an encode that
// moves at all, however slowly, is never taken for a stalled one.
void TEncoderController::WatchdogTick() {
  if (!started_ || restarted_ || !job_.Running()) return;
  last_seen_position_ = job_.Position();
  const bool stalled = last_seen_position_ == watched_position_ && last_seen_position_ < job_.Size();
  watched_position_ = last_seen_position_;
  if (!stalled) return;
  if (!launcher_(arguments_)) {
    view_.ReportError("kobrinvert: a new copy could not be started");
    return;
  }
  restarted_ = true;
  view_.ShowStatus("Restart");
  view_.Close();
}

// Empty when the encode really finished and the new file holds every frame read.
std::string TEncoderController::Unfinished() const {
  if (!job_.Error().empty()) return job_.Error();
  if (!job_.EndOfStream() || !job_.InputEnded() || job_.Position() != job_.Size() || !NonEmptyFile(part_)) {
    return "the encode did not finish";
  }
  const int64_t read = job_.FramesRead();
  const int64_t encoded = job_.EncodedFrames(part_);
  if (encoded != read) {
    return "the encoded file holds " + std::to_string(encoded) + " of the " + std::to_string(read) + " frames read";
  }
  return {};
}

void TEncoderController::Done() {
  if (restarted_) return;
  std::string why = Unfinished();
  std::error_code error;
  if (why.empty()) {
    std::filesystem::rename(part_, target_, error);
    if (error) why = "could not make \"" + target_ + "\": " + error.message();
  }
  if (!why.empty()) {
    std::filesystem::remove(part_, error);
    return Fail("kobrinvert: \"" + source_ + "\" kept: " + why);
  }
  if (Argument(5) == "delete") {
    std::filesystem::remove(source_, error);
    if (error) view_.ReportError("kobrinvert: could not delete \"" + source_ + "\": " + error.message());
  }
  view_.Close();
}

}  // namespace pmx
