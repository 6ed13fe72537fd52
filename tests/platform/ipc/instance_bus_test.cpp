#include "platform/ipc/instance_bus.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/main_loop.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A listener that records what it handled and on which thread.
struct Inbox {
  std::vector<BusMessage> messages;
  bool off_gui_thread = false;
  InstanceBus::Handler Handler() {
    return [this](const BusMessage& m) {
      off_gui_thread |= !MainLoop::Instance().IsGuiThread();
      messages.push_back(m);
    };
  }
};

// A socket file whose listener is gone, as a crashed instance leaves it.
void MakeDeadSocket(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

// A listener of a peer's own making at path: it answers each connection with
// replies (after reading what was sent) and hangs up. Without replies it never
// accepts, as a peer that hangs.
class RawPeer {
 public:
  RawPeer(const fs::path& path, std::string replies) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    if (replies.empty()) return;
    thread_ = std::thread([this, replies] {
      const int connection = accept(fd_, nullptr, nullptr);
      char frame[64];
      EXPECT_GT(read(connection, frame, sizeof frame), 0);
      EXPECT_EQ(write(connection, replies.data(), replies.size()), static_cast<ssize_t>(replies.size()));
      close(connection);
    });
  }
  ~RawPeer() {
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }

 private:
  int fd_;
  std::thread thread_;
};

class InstanceBusTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  const std::string folder_ = (dir_ / "bus").string();
};

TEST(InstanceBusNames, InstanceNamesAreChecked) {
  EXPECT_TRUE(InstanceBus::ValidInstanceName(""));
  EXPECT_TRUE(InstanceBus::ValidInstanceName(std::string(54, 'x')));
  EXPECT_FALSE(InstanceBus::ValidInstanceName(std::string(55, 'x')));
  EXPECT_FALSE(InstanceBus::ValidInstanceName("studio/2"));
  EXPECT_FALSE(InstanceBus::ValidInstanceName(std::string("a\0b", 3)));
  EXPECT_FALSE(InstanceBus::ValidInstanceName("studio\n2"));
  EXPECT_FALSE(InstanceBus::ValidInstanceName("studio\x7f"));
  EXPECT_TRUE(InstanceBus::ValidInstanceName("Studio 2 \xc3\xa4"));
}

TEST(InstanceBusNames, FolderFollowsTheRuntimeDirectory) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
  EXPECT_EQ(InstanceBus::DefaultFolder(), "/run/user/1234/pelmorax");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceBus::DefaultFolder(), "/tmp/pelmorax-" + std::to_string(geteuid()));
  if (saved) setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

TEST_F(InstanceBusTest, BroadcastWaitsForEveryListenerOnTheGuiThread) {
  InstanceBus first(folder_), second(folder_), sender(folder_);
  Inbox a, b;
  ASSERT_EQ(first.Listen("Pelmorax ", a.Handler()), 0);
  ASSERT_EQ(second.Listen("Pelmorax studio", b.Handler()), 0);
  EXPECT_EQ(fs::status(folder_).permissions() & fs::perms::all, fs::perms::owner_all);

  const BusMessage start{"Pelmorax Message", 5000, 1};
  EXPECT_EQ(sender.Broadcast(start), 2);
  // Handled before Broadcast returned, though this thread is the GUI thread.
  ASSERT_EQ(a.messages.size(), 1u);
  ASSERT_EQ(b.messages.size(), 1u);
  EXPECT_EQ(a.messages[0], start);
  EXPECT_EQ(b.messages[0], start);
  EXPECT_FALSE(a.off_gui_thread || b.off_gui_thread);

  // From a worker the GUI thread keeps pumping meanwhile.
  std::atomic<int> handled{-1};
  std::thread worker([&] { handled = sender.Broadcast({"Pelmorax_Message_4_Sembrix", 7, -1}); });
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return handled.load() >= 0; }, 10s));
  worker.join();
  EXPECT_EQ(handled.load(), 2);
  EXPECT_EQ(b.messages.back(), (BusMessage{"Pelmorax_Message_4_Sembrix", 7, -1}));
}

// A close that finishes a recording on a slow disk takes longer than any reply
// time-out: the sender waits for it, but not for a peer that is gone or hangs.
TEST_F(InstanceBusTest, ASenderWaitsForAListenerAtWorkButNotForOneThatIsGoneOrHangs) {
  static constexpr auto kReply = 100ms;
  InstanceBus listener(folder_), sender(folder_, kReply);
  ASSERT_EQ(listener.Listen("Pelmorax ", [](const BusMessage&) { std::this_thread::sleep_for(4 * kReply); }), 0);
  const BusMessage close{"Pelmorax Message", 5000, 2};
  std::atomic<int> result{-1};
  std::thread worker([&] { result = sender.Send("Pelmorax ", close, InstanceBus::kUntilHandled); });
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return result.load() >= 0; }, 10s));
  worker.join();
  EXPECT_EQ(result.load(), 0);

  const auto started = std::chrono::steady_clock::now();
  {
    const RawPeer gone(fs::path(folder_) / "Pelmorax gone", "\x02");  // received, then it ended
    EXPECT_EQ(sender.Send("Pelmorax gone", close, InstanceBus::kUntilHandled), ETIMEDOUT);
  }
  const RawPeer hung(fs::path(folder_) / "Pelmorax hung", "");
  EXPECT_EQ(sender.Send("Pelmorax hung", close, InstanceBus::kUntilHandled), ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(InstanceBusTest, OneListenerPerClassAndLookupByName) {
  InstanceBus first(folder_), second(folder_);
  Inbox inbox;
  ASSERT_EQ(first.Listen("Pelmorax studio", inbox.Handler()), 0);
  EXPECT_EQ(second.Listen("Pelmorax studio", inbox.Handler()), EADDRINUSE);
  EXPECT_TRUE(second.Exists("Pelmorax studio"));
  EXPECT_FALSE(second.Exists("Pelmorax other"));
  first.StopListening();
  EXPECT_FALSE(second.Exists("Pelmorax studio"));
  EXPECT_EQ(second.Listen("Pelmorax studio", inbox.Handler()), 0);

  // A name has one owner until its lock is closed; the lock is no listener.
  UniqueFd owner, other;
  ASSERT_EQ(first.ClaimName("Pelmorax studio", owner), 0);
  EXPECT_EQ(second.ClaimName("Pelmorax studio", other), EWOULDBLOCK);
  EXPECT_FALSE(other);
  EXPECT_EQ(second.ClaimName("Pelmorax other", other), 0);
  owner.Reset();
  EXPECT_EQ(second.ClaimName("Pelmorax studio", owner), 0);
  EXPECT_EQ(first.Broadcast({"ok", 1, 2}), 1);
}

TEST_F(InstanceBusTest, DeadSocketsAreRemoved) {
  InstanceBus bus(folder_);
  ASSERT_FALSE(bus.Exists("Pelmorax x"));  // makes the folder
  MakeDeadSocket(fs::path(folder_) / "Pelmorax crashed");
  MakeDeadSocket(fs::path(folder_) / "Pelmorax old");
  EXPECT_FALSE(bus.Exists("Pelmorax crashed"));
  EXPECT_FALSE(fs::exists(fs::path(folder_) / "Pelmorax crashed"));
  EXPECT_EQ(bus.Broadcast({"Pelmorax Message", 5000, 2}), 0);
  EXPECT_FALSE(fs::exists(fs::path(folder_) / "Pelmorax old"));
  Inbox inbox;
  MakeDeadSocket(fs::path(folder_) / "Pelmorax again");
  EXPECT_EQ(bus.Listen("Pelmorax again", inbox.Handler()), 0);
}

TEST_F(InstanceBusTest, PostDoesNotWaitForTheHandler) {
  InstanceBus listener(folder_), sender(folder_);
  Inbox inbox;
  ASSERT_EQ(listener.Listen("Pelmorax ", inbox.Handler()), 0);
  EXPECT_EQ(sender.Post("Pelmorax ", {"front", 0x1400, 0}), 0);
  EXPECT_TRUE(inbox.messages.empty());
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return !inbox.messages.empty(); }, 5s));
  EXPECT_EQ(inbox.messages[0].wparam, 0x1400);
  EXPECT_EQ(sender.Post("Pelmorax nobody", {"front", 0, 0}), ENOENT);
}

TEST_F(InstanceBusTest, APostNotYetHandledIsDroppedWhenListeningStops) {
  InstanceBus sender(folder_);
  Inbox inbox;
  {
    InstanceBus listener(folder_);
    ASSERT_EQ(listener.Listen("Pelmorax ", inbox.Handler()), 0);
    // Acknowledged on receipt: queued for the GUI thread before the listener stops.
    ASSERT_EQ(sender.Post("Pelmorax ", {"front", 0x1400, 0}), 0);
  }
  MainLoop::Instance().ProcessPending();
  EXPECT_TRUE(inbox.messages.empty());
}

TEST_F(InstanceBusTest, GarbageFromAPeerIsDroppedAndTheListenerGoesOn) {
  InstanceBus listener(folder_), sender(folder_);
  Inbox inbox;
  ASSERT_EQ(listener.Listen("Pelmorax ", inbox.Handler()), 0);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, (fs::path(folder_) / "Pelmorax ").c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const unsigned char garbage[] = {1, 0xFF, 0xFF, 0xFF, 0x7F};  // a name of 2 GiB
  ASSERT_EQ(write(fd, garbage, sizeof garbage), static_cast<ssize_t>(sizeof garbage));
  char reply = 0;
  EXPECT_EQ(read(fd, &reply, 1), 0);  // closed without a reply
  close(fd);
  EXPECT_EQ(sender.Broadcast({"ok", 1, 2}), 1);
  ASSERT_EQ(inbox.messages.size(), 1u);
}

TEST_F(InstanceBusTest, UnsafeFoldersAndNamesAreRefused) {
  ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
  InstanceBus open_folder(folder_);
  Inbox inbox;
  EXPECT_EQ(open_folder.Listen("Pelmorax ", inbox.Handler()), EPERM);
  InstanceBus bus((dir_ / "private").string());
  EXPECT_EQ(bus.Listen("..", inbox.Handler()), EINVAL);
  EXPECT_EQ(bus.Listen("a/b", inbox.Handler()), EINVAL);
  EXPECT_EQ(bus.Listen(std::string(200, 'x'), inbox.Handler()), ENAMETOOLONG);
}

}  // namespace
}  // namespace pmx
