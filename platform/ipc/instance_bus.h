#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

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
  // How long a listener may take to say it received a message.
  static constexpr std::chrono::milliseconds kReplyTimeout{5000};
  // A sender that waits as long as the listener works on the message; a listener
  // that ends meanwhile is still noticed.
  static constexpr std::chrono::milliseconds kUntilHandled{-1};

  // folder: where the sockets live, whatever the length of its path; it is made
  // (mode 0700) when missing and refused (EPERM) when it is a symbolic link,
  // another user owns it or others may enter it. reply_timeout: how long a
  // listener may take to say it received a message.
  explicit InstanceBus(std::string folder = DefaultFolder(),
                       std::chrono::milliseconds reply_timeout = kReplyTimeout);
  ~InstanceBus();
  InstanceBus(const InstanceBus&) = delete;
  InstanceBus& operator=(const InstanceBus&) = delete;

  // $XDG_RUNTIME_DIR/pelmorax, or /tmp/pelmorax-<uid> without it.
  static std::string DefaultFolder();
  // An instance name may hold no "/", no control character and at most 54 characters.
  static bool ValidInstanceName(const std::string& name);

  const std::string& Folder() const { return folder_; }
  // Why the folder cannot be used (it is made when missing); empty when it can.
  std::string FolderProblem() const;

  // Listens as class_name; 0, or an errno value: EADDRINUSE when a live
  // listener has the name already, EINVAL for a name that cannot be a file.
  int Listen(const std::string& class_name, Handler handler);
  // After it begins, the handler runs no more, not even for messages that had
  // already arrived.
  void StopListening();

  // Makes this process the only owner of class_name until lock is closed (at
  // the latest when the process ends): 0, EWOULDBLOCK while another process owns
  // it, or another errno value when the folder is unusable. Deciding who listens
  // under a name this way leaves no gap between looking for a listener and
  // becoming one.
  int ClaimName(const std::string& class_name, UniqueFd& lock);
  // The names whose lock is held now (by others), listening or not yet.
  std::vector<std::string> ClaimedNames();

  // Whether a live listener of that class is there; a dead one's socket goes.
  bool Exists(const std::string& class_name);
  // Hands a message to the class's listener without waiting for it to be handled.
  int Post(const std::string& class_name, const BusMessage& message);
  // Hands a message to the class's listener and waits until it was handled: each
  // listener says at once (within the reply time-out) that it received it, then
  // handles it within work_limit. 0, or an errno value.
  int Send(const std::string& class_name, const BusMessage& message,
           std::chrono::milliseconds work_limit = kReplyTimeout);
  // Sends to every live listener, one after another, as Send does. Returns how
  // many handled it.
  int Broadcast(const BusMessage& message, std::chrono::milliseconds work_limit = kReplyTimeout);

 private:
  int Deliver(const std::string& socket_name, const BusMessage& message, bool wait,
              std::chrono::milliseconds work_limit);
  void Serve();
  void ServeOne(UniqueFd connection);

  const std::string folder_;
  const std::chrono::milliseconds reply_timeout_;
  std::string class_name_;
  Handler handler_;
  // Cleared when listening stops: messages still queued for the GUI thread are
  // then dropped, as the handler's owner may be going.
  std::shared_ptr<std::atomic<bool>> open_;
  UniqueFd folder_fd_;  // the folder listened in, as it was checked
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  std::thread listener_;
  std::atomic<bool> served_{false};  // the listener thread has left Serve
};

}  // namespace pmx
