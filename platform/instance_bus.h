#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace pmx {

// A message between the program's instances (and any companion listening).
struct BusMessage {
  static constexpr std::size_t kMaxNameLength = 255;
  std::string name;
  std::int64_t wparam = 0;
  std::int64_t lparam = 0;
  bool operator==(const BusMessage&) const = default;
};

// The program's windows find and tell each other through a per-user folder of
// Unix-domain sockets, one named after each listening window class. Only peers
// of the same user are heard or spoken to.
//
// Threads: Listen, StopListening and the destructor belong to the owner. A
// listener thread accepts connections; the handler runs on the GUI thread
// (through MainLoop). Exists, Post and Broadcast may run on any thread; on the
// GUI thread their waits keep queued calls running.
class InstanceBus {
 public:
  using Handler = std::function<void(const BusMessage&)>;
  static constexpr std::size_t kMaxInstanceName = 54;
  static constexpr std::chrono::milliseconds kReplyTimeout{5000};

  // folder: where the sockets live; it is made (mode 0700) when missing and
  // refused when another user owns it or others may enter it.
  explicit InstanceBus(std::string folder = DefaultFolder());
  ~InstanceBus();
  InstanceBus(const InstanceBus&) = delete;
  InstanceBus& operator=(const InstanceBus&) = delete;

  // $XDG_RUNTIME_DIR/pelmorax, or /tmp/pelmorax-<uid> without it.
  static std::string DefaultFolder();
  // An instance name may hold no "/", no control character and at most 54 characters.
  static bool ValidInstanceName(const std::string& name);

  // Listens as class_name; 0, or an errno value: EADDRINUSE when a live
  // listener has the name already, EINVAL for a name that cannot be a file.
  int Listen(const std::string& class_name, Handler handler);
  // After it begins, the handler runs no more, not even for messages that had
  // already arrived.
  void StopListening();

  // Whether a live listener of that class is there; a dead one's socket goes.
  bool Exists(const std::string& class_name);
  // Hands a message to the class's listener without waiting for it to be handled.
  int Post(const std::string& class_name, const BusMessage& message);
  // Sends to every live listener, one after another, each time waiting until it
  // handled the message (or kReplyTimeout passed). Returns how many handled it.
  int Broadcast(const BusMessage& message);

 private:
  int Send(const std::string& socket_name, const BusMessage& message, bool wait);
  void Serve();
  void ServeOne(int connection);

  const std::string folder_;
  std::string class_name_;
  Handler handler_;
  // Cleared when listening stops: messages still queued for the GUI thread are
  // then dropped, as the handler's owner may be going.
  std::shared_ptr<std::atomic<bool>> open_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  std::thread listener_;
  std::atomic<bool> served_{false};  // the listener thread has left Serve
};

}  // namespace pmx
