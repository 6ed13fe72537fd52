#include "encoder/encoder_controller.h"

#include <fstream>

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

std::string Text(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = test::FileBytes(path);
  return {bytes.begin(), bytes.end()};
}

struct FakeView : TEncoderView {
  void ShowStatus(const std::string& text) override { statuses.push_back(text); }
  void ShowSource(const std::string& path) override { source = path; }
  void ShowProgress(int percent) override { progress = percent; }
  void MoveTo(int l, int t) override { placed = {l, t}; }
  void Minimize() override { minimized = true; }
  void ArmWatchdog() override { armed = true; }
  void ReportError(const std::string& text) override { errors.push_back(text); }
  void Close() override { ++closed; }

  std::vector<std::string> statuses, errors;
  std::string source;
  int progress = -1, closed = 0;
  std::pair<int, int> placed{-1, -1};
  bool minimized = false, armed = false;
};

// An encode whose figures the test sets; Start writes the target like a real one.
struct FakeJob : TEncodeJob {
  void Start(const std::string& s, const std::string& t, float q) override {
    if (refuse) throw EAuException("Component is Busy");
    source = s, target = t, quality = q;
    std::ofstream(t) << "OggS";
    running = true;
  }
  int64_t Position() const override { return position; }
  int64_t Size() const override { return size; }
  int Progress() const override { return static_cast<int>(position * 100 / std::max<int64_t>(size, 1)); }
  bool Running() const override { return running; }
  std::string Error() const override { return error; }
  bool EndOfStream() const override { return eos; }
  bool InputEnded() const override { return ended; }
  int64_t FramesRead() const override { return position / 4; }
  int64_t EncodedFrames(const std::string& path) const override {
    decoded_path = path;
    return decoded;
  }
  void Finish() {
    position = size;
    eos = ended = true;
    running = false;
  }

  std::string source, target, error;
  mutable std::string decoded_path;
  float quality = 0;
  int64_t position = 0, size = 1000, decoded = 250;
  bool running = false, eos = false, ended = false, refuse = false;
};

// A controller over a WAV in a folder with a blank in its name.
struct Rig {
  explicit Rig(std::vector<std::string> tail) {
    std::filesystem::create_directory(dir / "My Rec");
    std::ofstream(wav) << "RIFF";
    args = {(dir.path() / "My*Rec" / "x.wav").string()};
    args.insert(args.end(), tail.begin(), tail.end());
  }
  TEncoderController& Make() {
    controller.emplace(args, view, job, [this](const std::vector<std::string>& a) {
      launches.push_back(a);
      return launch_ok;
    });
    return *controller;
  }

  test::TempDir dir;
  std::filesystem::path wav = dir / "My Rec/x.wav";
  std::filesystem::path ogg = dir / "My Rec/x.ogg";
  std::filesystem::path part = dir / "My Rec/x.ogg.part";
  std::vector<std::string> args;
  FakeView view;
  FakeJob job;
  std::vector<std::vector<std::string>> launches;
  bool launch_ok = true;
  std::optional<TEncoderController> controller;
};

TEST(EncoderController, ArgumentsPlaceTheWindowAndSetTheDelay) {
  struct Case {
    std::vector<std::string> tail;
    int delay;
    std::pair<int, int> placed;
    bool minimized;
  };
  const std::vector<Case> cases{{{"0.2", "150", "180", "0", "delete"}, 1, {150, 180}, false},
                                {{"0.2", "0", "0", "500", "delete"}, 501, {-1, -1}, true},
                                {{"0.2", "x", "0", "500"}, 1, {0, 0}, false},
                                {{"0.2"}, 1, {0, 0}, false}};
  for (const Case& c : cases) {
    Rig rig(c.tail);
    EXPECT_EQ(rig.Make().FormShow(), c.delay);
    EXPECT_EQ(rig.view.placed, c.placed);
    EXPECT_EQ(rig.view.minimized, c.minimized);
  }
  EXPECT_EQ(ParseQuality("0.2"), 0.2f);
  EXPECT_EQ(ParseQuality("-0.1"), -0.1f);
  EXPECT_FALSE(ParseQuality("0,2"));
  EXPECT_FALSE(ParseQuality("nan"));
  EXPECT_FALSE(ParseInteger("12x"));
}

TEST(EncoderController, StartsTheEncodeOfTheBlankedPathIntoItsOgg) {
  Rig rig({"0.5", "0", "0", "0", "delete"});
  std::ofstream(rig.ogg) << "an old ogg";
  std::ofstream(rig.part) << "left by a stalled copy, longer than a new start";
  rig.Make().StartEncode();
  EXPECT_EQ(rig.job.source, rig.wav.string());
  EXPECT_EQ(rig.job.target, rig.part.string());
  EXPECT_EQ(rig.job.quality, 0.5f);
  EXPECT_EQ(std::filesystem::file_size(rig.part), 4u);  // started over
  EXPECT_EQ(std::filesystem::file_size(rig.ogg), 10u);  // the old one stays meanwhile
  EXPECT_EQ(rig.view.statuses, std::vector<std::string>{"Execute"});
  EXPECT_TRUE(rig.view.armed);
  EXPECT_EQ(rig.view.closed, 0);
}

TEST(EncoderController, ArgumentsThatCannotBeEncodedKeepTheFileAndFail) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"zero", "x.wav"}, {"0.2", "x.ogg"}, {"0.2", "missing.wav"}};
  for (const auto& [quality, name] : cases) {
    SCOPED_TRACE(quality + " " + name);
    Rig rig({quality, "0", "0", "0", "delete"});
    rig.args[0] = (rig.dir.path() / "My*Rec" / name).string();
    std::ofstream(rig.ogg) << "keep";
    rig.Make().StartEncode();
    EXPECT_EQ(rig.view.closed, 1);
    EXPECT_EQ(rig.controller->ExitCode(), 1);
    EXPECT_EQ(rig.view.errors.size(), 1u);
    EXPECT_TRUE(rig.job.source.empty());
    EXPECT_TRUE(std::filesystem::exists(rig.wav));
    EXPECT_EQ(std::filesystem::file_size(rig.ogg), 4u);
  }
}

TEST(EncoderController, TheWavGoesOnlyAfterAFinishedEncodeAndWhenAsked) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> spoil;
    const char* sixth;
    bool deleted;
  };
  const std::vector<Case> cases{
      {"finished", [](Rig&) {}, "delete", true},
      {"not asked", [](Rig&) {}, "keep", false},
      {"thread error", [](Rig& r) { r.job.error = "Could not write to the output stream"; }, "delete", false},
      {"no end page", [](Rig& r) { r.job.eos = false; }, "delete", false},
      {"input not ended", [](Rig& r) { r.job.ended = false; }, "delete", false},
      {"input short", [](Rig& r) { r.job.position = 999; }, "delete", false},
      {"output gone", [](Rig& r) { std::filesystem::remove(r.part); }, "delete", false},
      {"output empty", [](Rig& r) { std::ofstream(r.part, std::ios::trunc); }, "delete", false},
      {"output short", [](Rig& r) { r.job.decoded = 249; }, "delete", false},
      {"output undecodable", [](Rig& r) { r.job.decoded = -1; }, "delete", false},
      {"target is a folder", [](Rig& r) {
         std::filesystem::remove(r.ogg);
         std::filesystem::create_directories(r.ogg / "x");
       }, "delete", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig({"0.2", "0", "0", "0", c.sixth});
    std::ofstream(rig.ogg) << "old";
    rig.Make().StartEncode();
    rig.job.Finish();
    c.spoil(rig);
    rig.job.OnDone();
    EXPECT_EQ(std::filesystem::exists(rig.wav), !c.deleted);
    EXPECT_EQ(rig.view.closed, 1);
    const bool failed = std::string(c.what) != "finished" && std::string(c.what) != "not asked";
    EXPECT_EQ(rig.controller->ExitCode(), failed ? 1 : 0);
    EXPECT_EQ(rig.view.errors.size(), failed ? 1u : 0u);
    // A failed run leaves no part behind and the old file as it was.
    EXPECT_FALSE(std::filesystem::exists(rig.part));
    if (failed && std::filesystem::is_regular_file(rig.ogg)) {
      EXPECT_EQ(Text(rig.ogg), "old");
    }
    if (!failed) {
      EXPECT_EQ(Text(rig.ogg), "OggS");
    }
  }
}

TEST(EncoderController, TheWatchdogRestartsAStalledEncodeWithTheSameArguments) {
  Rig rig({"0.2", "150", "180", "0"});
  TEncoderController& c = rig.Make();
  c.StartEncode();
  rig.job.position = 10;
  c.WatchdogTick();  // moved since the start
  rig.job.position = 11;
  rig.job.OnProgress();
  EXPECT_EQ(rig.view.statuses.back(), "Encode");
  EXPECT_EQ(rig.view.progress, 1);
  c.WatchdogTick();  // moved one byte: slow, not stalled
  EXPECT_TRUE(rig.launches.empty());
  c.WatchdogTick();  // not moved for a whole period
  ASSERT_EQ(rig.launches.size(), 1u);
  EXPECT_EQ(rig.launches[0], rig.args);
  EXPECT_EQ(rig.view.statuses.back(), "Restart");
  EXPECT_EQ(rig.view.closed, 1);
  EXPECT_TRUE(c.Restarted());
  rig.job.OnDone();  // the stopped encode ends after the restart: the WAV stays
  EXPECT_TRUE(std::filesystem::exists(rig.wav));
  EXPECT_EQ(rig.view.closed, 1);
}

TEST(EncoderController, TheWatchdogLeavesEndedOrUnstartedEncodesAlone) {
  Rig rig({"0.2", "150", "180", "0"});
  TEncoderController& c = rig.Make();
  c.WatchdogTick();  // nothing started
  c.StartEncode();
  rig.job.Finish();
  c.WatchdogTick();
  c.WatchdogTick();
  EXPECT_TRUE(rig.launches.empty());
  Rig failing({"0.2", "150", "180", "0"});
  failing.launch_ok = false;
  failing.Make().StartEncode();
  failing.controller->WatchdogTick();
  EXPECT_EQ(failing.launches.size(), 1u);
  EXPECT_EQ(failing.view.closed, 0);  // the encode goes on
  EXPECT_EQ(failing.view.errors.size(), 1u);
}

}  // namespace
}  // namespace pmx
