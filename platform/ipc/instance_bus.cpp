#include "platform/ipc/instance_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/main_loop.h"
#include "platform/unique_fd.h"
#include "platform/thread_start.h"

namespace pmx {
namespace {

constexpr std::chrono::milliseconds kReadTimeout{2000};
constexpr std::uint8_t kPosted = 0;
constexpr std::uint8_t kSent = 1;
// The listener's replies: a posted message is answered with kHandled on
// receipt; a sent one with kReceived at once and kHandled once handled.
constexpr std::uint8_t kHandled = 1;
constexpr std::uint8_t kReceived = 2;

// Holds the folder's lock while a socket is bound or a dead one removed, so that
// no one takes a listener that is just starting for a dead one.
class FolderLock {
 public:
  explicit FolderLock(int folder) : fd_(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_.get() >= 0) flock(fd_.get(), LOCK_EX);
  }

 private:
  UniqueFd fd_;
};

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The folder, made (mode 0700) when missing and opened without following a link.
// What was opened is what is checked and then used, so nothing can be swapped in
// between: it must belong to this user and be closed to everyone else, or another
// local user (who may have made it first, as /tmp lets anyone) could hand us
// their sockets, take our names or remove our locks.
struct OpenedFolder {
  UniqueFd fd;
  int error = 0;        // 0, or an errno value (EPERM for a folder not to be trusted)
  std::string problem;  // why it cannot be used
};

OpenedFolder Unusable(int error, std::string problem) { return {UniqueFd(), error, std::move(problem)}; }

OpenedFolder OpenFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return Unusable(errno, std::strerror(errno));
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return Unusable(EPERM, "it is a symbolic link");
    return Unusable(error, error == ENOTDIR ? "it is not a folder" : std::strerror(error));
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return Unusable(errno, std::strerror(errno));
  if (st.st_uid != geteuid()) {
    return Unusable(EPERM, "it belongs to another user (uid " + std::to_string(st.st_uid) + ")");
  }
  if ((st.st_mode & 077) != 0) return Unusable(EPERM, "others may use it (mode " + Octal(st.st_mode) + ")");
  return {std::move(fd), 0, {}};
}

// Hidden names are the lock files'.
bool ValidSocketName(const std::string& name) {
  return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// The socket is reached through the folder already opened and checked, which
// also keeps the address short whatever the folder's own path: a socket's path
// may not be longer than 107 bytes.
int SocketAddress(int folder, const std::string& name, sockaddr_un& address) {
  if (!ValidSocketName(name)) return EINVAL;
  const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return 0;
}

bool SameUser(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == geteuid();
}

// "." + class_name + ".lock": hidden, so no listener can have the name.
std::string LockFileName(const std::string& class_name) { return "." + class_name + ".lock"; }

// The class whose lock file entry is; empty for any other file.
std::string ClassOfLockFile(const std::string& entry) {
  constexpr std::string_view kSuffix = ".lock";
  if (entry.size() <= 1 + kSuffix.size() || entry.front() != '.' || !entry.ends_with(kSuffix)) return {};
  return entry.substr(1, entry.size() - 1 - kSuffix.size());
}

// The names of the folder's entries of a type (DT_SOCK, DT_REG), links not followed.
std::vector<std::string> FolderEntries(int folder, unsigned char type) {
  std::vector<std::string> names;
  const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return names;
  }
  const mode_t mode = type == DT_SOCK ? S_IFSOCK : S_IFREG;
  while (const dirent* entry = readdir(dir)) {
    struct stat st {};
    const bool wanted = entry->d_type == type ||
                        (entry->d_type == DT_UNKNOWN && fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         (st.st_mode & S_IFMT) == mode);
    if (wanted) names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

// Connects to a listener of the same user; a negative errno on failure.
int Connect(const sockaddr_un& address) {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return -errno;
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -errno;
  if (!SameUser(fd.get())) return -EPERM;
  return fd.Release();
}

// Connects; a socket file nobody listens on any more is removed.
int ConnectOrClean(int folder, const std::string& name, const sockaddr_un& address) {
  const int fd = Connect(address);
  if (fd != -ECONNREFUSED) return fd;
  FolderLock lock(folder);
  const int again = Connect(address);
  if (again == -ECONNREFUSED) unlinkat(folder, name.c_str(), 0);
  return again;
}

// A negative timeout waits without limit.
bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
  pollfd p{fd, POLLIN, 0};
  int ready = 0;
  while ((ready = poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
  }
  return ready > 0;
}

bool ReadFull(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    if (!WaitReadable(fd, kReadTimeout)) return false;
    const ssize_t n = recv(fd, bytes, size, 0);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLe(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= std::uint64_t{in[i]} << (8 * i);
  return value;
}

// A frame: kind (1 byte), name length (4), name, wparam (8), lparam (8); all
// little-endian.
std::vector<std::uint8_t> Encode(const BusMessage& message, std::uint8_t kind) {
  std::vector<std::uint8_t> out{kind};
  PutLe(out, message.name.size(), 4);
  out.insert(out.end(), message.name.begin(), message.name.end());
  PutLe(out, static_cast<std::uint64_t>(message.wparam), 8);
  PutLe(out, static_cast<std::uint64_t>(message.lparam), 8);
  return out;
}

bool Decode(int fd, BusMessage& message, std::uint8_t& kind) {
  std::uint8_t head[5];
  if (!ReadFull(fd, head, sizeof head)) return false;
  kind = head[0];
  const std::uint64_t length = GetLe(head + 1, 4);
  if ((kind != kPosted && kind != kSent) || length > BusMessage::kMaxNameLength) return false;
  message.name.assign(length, '\0');
  std::uint8_t params[16];
  if (!ReadFull(fd, message.name.data(), length) || !ReadFull(fd, params, sizeof params)) return false;
  message.wparam = static_cast<std::int64_t>(GetLe(params, 8));
  message.lparam = static_cast<std::int64_t>(GetLe(params + 8, 8));
  return true;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The listener's next one-byte reply; none after limit (negative: no limit) or
// when the listener closed the connection. Handling may need this very GUI
// thread, which then keeps its queue going.
std::optional<std::uint8_t> NextReply(int fd, bool pump, std::chrono::milliseconds limit) {
  MainLoop& loop = MainLoop::Instance();
  const auto readable = [fd] { return WaitReadable(fd, std::chrono::milliseconds(0)); };
  bool ready = false;
  if (!pump || !loop.IsGuiThread()) {
    ready = WaitReadable(fd, limit);
  } else if (limit >= std::chrono::milliseconds(0)) {
    ready = loop.PumpUntil(readable, limit);
  } else {
    while (!loop.PumpUntil(readable, std::chrono::seconds(1))) {
    }
    ready = true;
  }
  std::uint8_t reply = 0;
  if (!ready || recv(fd, &reply, 1, 0) != 1) return std::nullopt;
  return reply;
}

bool AwaitReply(int fd, bool sent, std::chrono::milliseconds reply_timeout,
                std::chrono::milliseconds work_limit) {
  std::optional<std::uint8_t> reply = NextReply(fd, sent, reply_timeout);
  if (sent && reply == kReceived) reply = NextReply(fd, true, work_limit);
  return reply == kHandled;
}

// Tells the sender that its message was handled, when the handling ends (also by
// an exception); a message dropped unhandled just closes the connection.
struct HandledReply {
  std::shared_ptr<UniqueFd> connection;
  ~HandledReply() {
    if (connection && *connection) send(connection->get(), &kHandled, 1, MSG_NOSIGNAL);
  }
};

}  // namespace

InstanceBus::InstanceBus(std::string folder, std::chrono::milliseconds reply_timeout)
    : folder_(std::move(folder)), reply_timeout_(reply_timeout) {}

InstanceBus::~InstanceBus() { StopListening(); }

std::string InstanceBus::DefaultFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') return std::string(runtime) + "/pelmorax";
  return "/tmp/pelmorax-" + std::to_string(geteuid());
}

bool InstanceBus::ValidInstanceName(const std::string& name) {
  // A control character would reach file names and the texts that show the name.
  const auto allowed = [](char c) {
    return c != '/' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
  };
  return name.size() <= kMaxInstanceName && std::all_of(name.begin(), name.end(), allowed);
}

std::string InstanceBus::FolderProblem() const { return OpenFolder(folder_).problem; }

int InstanceBus::ClaimName(const std::string& class_name, UniqueFd& lock) {
  const OpenedFolder folder = OpenFolder(folder_);
  if (folder.error) return folder.error;
  if (!ValidSocketName(class_name)) return EINVAL;
  // Kept after use: removing it would let a third start lock a file that is
  // no longer the one the owner holds.
  UniqueFd fd(openat(folder.fd.get(), LockFileName(class_name).c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return errno;
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno == EINTR ? EWOULDBLOCK : errno;
  lock = std::move(fd);
  return 0;
}

std::vector<std::string> InstanceBus::ClaimedNames() {
  std::vector<std::string> names;
  const OpenedFolder folder = OpenFolder(folder_);
  if (folder.error) return names;
  for (const std::string& entry : FolderEntries(folder.fd.get(), DT_REG)) {
    const std::string name = ClassOfLockFile(entry);
    UniqueFd probe;
    if (!name.empty() && ClaimName(name, probe) == EWOULDBLOCK) names.push_back(name);
  }
  return names;
}

int InstanceBus::Listen(const std::string& class_name, Handler handler) {
  StopListening();
  OpenedFolder folder = OpenFolder(folder_);
  if (folder.error) return folder.error;
  sockaddr_un address;
  if (int error = SocketAddress(folder.fd.get(), class_name, address)) return error;
  FolderLock lock(folder.fd.get());
  const int live = Connect(address);
  if (live >= 0) {
    close(live);
    return EADDRINUSE;
  }
  unlinkat(folder.fd.get(), class_name.c_str(), 0);  // nobody answers on it: a dead listener's file
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return errno;
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd.get(), 16) != 0) {
    return errno;
  }
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    unlinkat(folder.fd.get(), class_name.c_str(), 0);
    return errno;
  }
  class_name_ = class_name;
  handler_ = std::move(handler);
  open_ = std::make_shared<std::atomic<bool>>(true);
  folder_fd_ = std::move(folder.fd);
  listen_fd_ = fd.Release();
  wake_fd_ = wake;
  served_.store(false);
  listener_ = std::thread([this] {
    BeginThread("pmx-instance");
    Serve();
    served_.store(true);
    MainLoop::Instance().Wake();
  });
  return 0;
}

void InstanceBus::StopListening() {
  if (!listener_.joinable()) return;
  open_->store(false);
  const std::uint64_t one = 1;
  if (write(wake_fd_, &one, sizeof one) < 0) {
    // Cannot fail for a fresh counter; the listener would still end at close.
  }
  // The listener may be waiting for the GUI thread to run a handler.
  MainLoop& loop = MainLoop::Instance();
  while (!loop.PumpUntil([this] { return served_.load(); }, std::chrono::seconds(1))) {
  }
  listener_.join();
  unlinkat(folder_fd_.get(), class_name_.c_str(), 0);
  folder_fd_.Reset();
  close(listen_fd_);
  close(wake_fd_);
  listen_fd_ = wake_fd_ = -1;
}

bool InstanceBus::Exists(const std::string& class_name) {
  const OpenedFolder folder = OpenFolder(folder_);
  sockaddr_un address;
  if (folder.error || SocketAddress(folder.fd.get(), class_name, address) != 0) return false;
  const int fd = ConnectOrClean(folder.fd.get(), class_name, address);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int InstanceBus::Post(const std::string& class_name, const BusMessage& message) {
  return Deliver(class_name, message, false, kReplyTimeout);
}

int InstanceBus::Send(const std::string& class_name, const BusMessage& message,
                      std::chrono::milliseconds work_limit) {
  return Deliver(class_name, message, true, work_limit);
}

int InstanceBus::Broadcast(const BusMessage& message, std::chrono::milliseconds work_limit) {
  const OpenedFolder folder = OpenFolder(folder_);
  if (folder.error) return 0;
  const std::vector<std::string> names = FolderEntries(folder.fd.get(), DT_SOCK);
  int handled = 0;
  for (const std::string& name : names) {
    if (Deliver(name, message, true, work_limit) == 0) ++handled;
  }
  return handled;
}

int InstanceBus::Deliver(const std::string& socket_name, const BusMessage& message, bool wait,
                         std::chrono::milliseconds work_limit) {
  if (message.name.size() > BusMessage::kMaxNameLength) return EINVAL;
  const OpenedFolder folder = OpenFolder(folder_);
  if (folder.error) return folder.error;
  sockaddr_un address;
  if (int error = SocketAddress(folder.fd.get(), socket_name, address)) return error;
  const int connected = ConnectOrClean(folder.fd.get(), socket_name, address);
  if (connected < 0) return -connected;
  UniqueFd fd(connected);
  if (!WriteAll(fd.get(), Encode(message, wait ? kSent : kPosted))) return EPIPE;
  return AwaitReply(fd.get(), wait, reply_timeout_, work_limit) ? 0 : ETIMEDOUT;
}

void InstanceBus::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) return;
    if (!(fds[0].revents & POLLIN)) continue;
    UniqueFd connection(accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() >= 0 && SameUser(connection.get())) ServeOne(std::move(connection));
  }
}

void InstanceBus::ServeOne(UniqueFd connection) {
  BusMessage message;
  std::uint8_t kind = 0;
  if (!Decode(connection.get(), message, kind)) return;  // a malformed frame is dropped
  // Received at once, so a sender can tell a listener that works long (a close
  // that finishes a recording on a slow disk) from one that is gone or hung.
  const std::uint8_t received = kind == kPosted ? kHandled : kReceived;
  send(connection.get(), &received, 1, MSG_NOSIGNAL);
  std::shared_ptr<UniqueFd> reply;
  if (kind == kSent) reply = std::make_shared<UniqueFd>(std::move(connection));
  // A closing program, or a listener that has stopped, handles nothing more; a
  // sender hears so from the connection's end.
  MainLoop::Instance().Post([open = open_, handler = handler_, message, reply] {
    if (!open->load()) return;
    const HandledReply handled{reply};
    handler(message);
  });
}

}  // namespace pmx
