#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/streaming/au_input.h"
#include "tests/support/temp_dir.h"

namespace pmx::test {

// Interleaved 16-bit frames of a sine of hz on every channel, at half scale.
std::vector<int16_t> Sine(int64_t frames, int rate, int channels, double hz);
// Writes samples as raw little-endian 16-bit PCM.
void PutRaw(const std::filesystem::path& path, const std::vector<int16_t>& samples);
// Runs a program found on PATH with its output discarded; its exit code, -1 when it
// could not be started.
int RunTool(const std::vector<std::string>& argv);
// Samples from little-endian bytes.
std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes);
// Largest lag correlation of decoded against source (first channel), over
// lags 0..max_lag frames: near 1 for the same signal.
double BestCorrelation(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded, int channels,
                       int max_lag);

// Fetches until most_bytes came or the input ended; the samples.
std::vector<int16_t> ReadSamples(TAuInput& input, size_t most_bytes);

// Ten seconds of a 441 Hz sine, 44100 Hz stereo, encoded once by a command-line
// tool into a temp folder. The command gets the raw PCM path and the output path.
class EncodedSine {
 public:
  static constexpr int kRate = 44100;
  static constexpr int64_t kFrames = 441000;
  using Command = std::function<std::vector<std::string>(const std::string& raw, const std::string& out)>;

  EncodedSine(const std::string& file_name, const Command& command);
  bool Encoded() const { return encoded_; }
  std::string Path() const { return path_.string(); }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
  const std::vector<int16_t>& Source() const { return source_; }

 private:
  TempDir dir_;
  std::vector<int16_t> source_;
  std::filesystem::path path_;
  bool encoded_ = false;
};

// A suite over one encoded sine, which the suite's SetUpTestSuite makes; each
// test gets a fresh Input on it.
template <class Input>
class EncodedInputTest : public ::testing::Test {
 protected:
  static constexpr int kRate = EncodedSine::kRate;
  static constexpr int64_t kFrames = EncodedSine::kFrames;

  // For the suite's SetUpTestSuite.
  static void Encode(const std::string& file_name, const EncodedSine::Command& command) {
    sine_ = std::make_unique<EncodedSine>(file_name, command);
  }
  static void TearDownTestSuite() { sine_.reset(); }
  void SetUp() override {
    if (!sine_ || !sine_->Encoded()) GTEST_SKIP() << "the encoder program is not available";
    input_.SetFileName(sine_->Path());
  }
  const std::vector<int16_t>& Source() const { return sine_->Source(); }
  std::vector<int16_t> ReadSamples(size_t most_bytes) { return test::ReadSamples(input_, most_bytes); }

  static inline std::unique_ptr<EncodedSine> sine_;
  Input input_;
};

}  // namespace pmx::test
