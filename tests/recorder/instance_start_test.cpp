#include "recorder/instance_start.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/main_loop.h"
#include "recorder/instance_listener.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/remote_target.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using Actions = std::vector<std::string>;

// A running recorder: its main window and its listener.
struct Recorder {
  test::NotingTarget window;
  TInstanceListener listener;
  Recorder(const std::string& folder, const std::string& name) : listener(window, folder) {
    EXPECT_TRUE(listener.Listen(name));
  }
};

class InstanceStartTest : public test::RecorderTest {
 protected:
  std::unique_ptr<Recorder> Run(const std::string& name) {
    return std::make_unique<Recorder>(folder_, name);
  }
  TStartDecision Start(const std::vector<std::string>& arguments) {
    return MainSequence(arguments, bus_);
  }
  static bool AwaitShown(Recorder& recorder) {
    return MainLoop::Instance().PumpUntil(
        [&] {
          return !recorder.window.actions.empty() &&
                 recorder.window.actions.back() == "ShowInstanceRequest";
        },
        5s);
  }

  test::TempDir dir_;
  const std::string folder_ = (dir_ / "bus").string();
  InstanceBus bus_{folder_};
};

TEST_F(InstanceStartTest, RecordingCommandsGoToEveryRecorderInAnyCase) {
  auto unnamed = Run("");
  auto studio = Run("A");
  const std::pair<const char*, const char*> cases[] = {
      {"-recordstop", "StopRecording"},
      {"-RecordStart", "StartRecording"},
      {"-RECORDPAUSE", "PauseRecording"},
      {"-recordRESTART", "RestartRecording"},
  };
  for (const auto& [option, action] : cases) {
    SCOPED_TRACE(option);
    unnamed->window.actions.clear();
    studio->window.actions.clear();
    const TStartDecision decision = Start({option});
    EXPECT_FALSE(decision.become_recorder);
    EXPECT_EQ(decision.exit_code, 0);
    // Handled before the start ended; only the unnamed one comes to the front.
    EXPECT_EQ(studio->window.actions, Actions{action});
    ASSERT_TRUE(AwaitShown(*unnamed));
    EXPECT_EQ(unnamed->window.actions, (Actions{action, "ShowInstanceRequest"}));
  }
}

TEST_F(InstanceStartTest, ANamedStartRaisesItsRecorderOrBecomesOne) {
  auto unnamed = Run("");
  TStartDecision decision = Start({"Studio2", "-RECORDSTART"});
  EXPECT_TRUE(decision.become_recorder);
  EXPECT_EQ(decision.instance_name, "Studio2");
  EXPECT_EQ(decision.recording_option, "-RECORDSTART") << "it records once shown";
  decision = {};

  auto studio = Run("Studio2");
  decision = Start({"Studio2"});
  EXPECT_FALSE(decision.become_recorder);
  ASSERT_TRUE(AwaitShown(*studio));
  EXPECT_EQ(studio->window.actions, Actions{"ShowInstanceRequest"});
  EXPECT_TRUE(unnamed->window.actions.empty());
  // The name is kept as given; another case is another recorder.
  EXPECT_TRUE(Start({"studio2"}).become_recorder);

  // A name with a command: that recorder alone carries it out.
  studio->window.actions.clear();
  decision = Start({"Studio2", "-recordstart"});
  EXPECT_EQ(decision.exit_code, 0);
  ASSERT_TRUE(AwaitShown(*studio));
  EXPECT_EQ(studio->window.actions, (Actions{"StartRecording", "ShowInstanceRequest"}));
  decision = Start({"Studio2", "-CLOSE"});
  EXPECT_EQ(decision.exit_code, 0);
  EXPECT_EQ(studio->window.actions.back(), "Close");
  EXPECT_TRUE(unnamed->window.actions.empty());
  EXPECT_FALSE(Start({"Studio3", "-CLOSE"}).become_recorder) << "nothing to close starts nothing";
  decision = Start({"Studio2", "-RECORD"});
  EXPECT_FALSE(decision.become_recorder);
  EXPECT_EQ(decision.exit_code, 2);
  EXPECT_NE(messages_.back().find("\"-RECORD\" is no command"), std::string::npos) << messages_.back();
}

TEST_F(InstanceStartTest, CloseReachesEveryRecorderAndStartsNothing) {
  TStartDecision decision = Start({"-CLOSE"});
  EXPECT_FALSE(decision.become_recorder);
  EXPECT_NE(decision.exit_code, 0) << "a sender learns that nobody took its command";
  EXPECT_EQ(messages_, std::vector<std::string>{"No running recorder received -CLOSE."});

  auto unnamed = Run("");
  auto named = Run("Studio2");
  decision = Start({"-close", "Studio2"});
  EXPECT_FALSE(decision.become_recorder);
  EXPECT_EQ(decision.exit_code, 0);
  EXPECT_EQ(unnamed->window.actions, Actions{"Close"});
  EXPECT_EQ(named->window.actions, Actions{"Close"});
}

TEST_F(InstanceStartTest, RecordStartWithoutAnUnnamedRecorderBecomesOne) {
  auto named = Run("A");
  TStartDecision decision = Start({"-RECORDSTART"});
  EXPECT_TRUE(decision.become_recorder);
  EXPECT_EQ(decision.instance_name, "");
  EXPECT_EQ(decision.recording_option, "-RECORDSTART");
  EXPECT_TRUE(named->window.actions.empty());

  // No arguments at all: the unnamed recorder, once the first one has gone.
  decision = {};
  EXPECT_TRUE(Start({}).become_recorder);
}

TEST_F(InstanceStartTest, NamesTheBusCannotCarryAreRefused) {
  for (const std::string& name :
       {std::string("a/b"), std::string(55, 'x'), std::string("tab\there")}) {
    messages_.clear();
    const TStartDecision decision = Start({name});
    EXPECT_FALSE(decision.become_recorder);
    EXPECT_NE(decision.exit_code, 0);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("54 characters"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(folder_));
}

// A socket address holds at most 107 bytes, less than a long runtime folder and
// the longest name need: such a recorder is still found and commanded.
TEST_F(InstanceStartTest, TheLongestNameIsFoundInAFolderOfAnyLength) {
  const std::string folder = (dir_ / std::string(100, 'r')).string();
  InstanceBus bus(folder);
  const std::string longest(54, 'x');
  EXPECT_TRUE(MainSequence({longest}, bus).become_recorder);
  Recorder recorder(folder, longest);
  const TStartDecision second = MainSequence({longest, "-RECORDSTOP"}, bus);
  EXPECT_FALSE(second.become_recorder);
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_TRUE(AwaitShown(recorder));
  EXPECT_EQ(recorder.window.actions, (Actions{"StopRecording", "ShowInstanceRequest"}));
}

// A folder that points elsewhere or that another local user made first could
// carry a second recorder of the same name or someone else's sockets: no start
// uses it, and each says why.
TEST_F(InstanceStartTest, AnInstanceFolderNotPrivatelyOursStartsNothing) {
  const auto expect_refused = [&](const std::string& reason) {
    for (const char* option : {"-RECORDSTART", "-CLOSE"}) {
      messages_.clear();
      const TStartDecision decision = Start({option});
      EXPECT_FALSE(decision.become_recorder);
      EXPECT_EQ(decision.exit_code, 1);
      ASSERT_EQ(messages_.size(), 1u);
      EXPECT_TRUE(messages_[0].starts_with("The instance folder " + folder_ + " cannot be used: " + reason))
          << messages_[0];
    }
  };
  const std::string elsewhere = (dir_ / "elsewhere").string();
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(symlink(elsewhere.c_str(), folder_.c_str()), 0);
  expect_refused("it is a symbolic link");
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  std::filesystem::remove(folder_);
  if (geteuid() != 0) return;  // only root can give a folder to another user, who could have made it first
  ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
  ASSERT_EQ(chown(folder_.c_str(), 65534, 65534), 0);
  expect_refused("it belongs to another user (uid 65534)");
}

TEST_F(InstanceStartTest, TheListenerIgnoresItsOwnHandleAndUnknownCommands) {
  auto first = Run("");
  auto second = Run("B");
  EXPECT_NE(first->listener.Handle(), second->listener.Handle());
  EXPECT_NE(first->listener.Handle(), kCommandSender);

  bus_.Broadcast({CommandMessage, first->listener.Handle(), rcStop});
  bus_.Broadcast({CommandMessage, kCommandSender, 5});
  bus_.Broadcast({CommandMessage, kCommandSender, -1});
  bus_.Broadcast({"Other Message", kCommandSender, rcStop});
  EXPECT_TRUE(first->window.actions.empty());
  EXPECT_EQ(second->window.actions, Actions{"StopRecording"});
}

TEST_F(InstanceStartTest, AlarmReachesCompanionsWithTheSendersHandle) {
  auto recorder = Run("");
  std::vector<BusMessage> heard;
  InstanceBus companion(folder_);
  ASSERT_EQ(companion.Listen("Sembrix", [&](const BusMessage& m) { heard.push_back(m); }), 0);

  recorder->listener.BroadcastAlarm(1);
  recorder->listener.BroadcastAlarm(0);
  const std::int64_t handle = recorder->listener.Handle();
  EXPECT_EQ(heard, (std::vector<BusMessage>{{AlarmMessage, handle, 1}, {AlarmMessage, handle, 0}}));
  EXPECT_TRUE(recorder->window.actions.empty());
}

TEST_F(InstanceStartTest, ASecondListenerOfTheSameNameIsToldWhy) {
  auto first = Run("A");
  test::NotingTarget window;
  TInstanceListener late(window, folder_);
  EXPECT_FALSE(late.Listen("A"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("same name"), std::string::npos);
  EXPECT_FALSE(Start({"A"}).become_recorder);
  ASSERT_TRUE(AwaitShown(*first));
}

}  // namespace
}  // namespace pmx
