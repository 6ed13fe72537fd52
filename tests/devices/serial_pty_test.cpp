// The serial port on a pseudo-terminal: a real tty without modem lines.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devices/serial_port.h"
#include "platform/main_loop.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// The controlling side of a pseudo-terminal; the port opens its other end.
class Pty {
 public:
  Pty() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) path_ = ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  const std::string& path() const { return path_; }
  void Write(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  int master_;
  std::string path_;
};

struct Failure {
  std::uint32_t place = 0;
  std::uint32_t code = 0;
};

// Remembers the last error (noise 0) a port reports.
void CatchErrors(TSerialPort& port, Failure& failure) {
  port.OnProcessError = [&failure](TObject*, std::uint32_t place, std::uint32_t code, const std::string&,
                                   std::uint8_t noise) {
    if (noise == 0) failure = {place, code};
  };
}

std::string Drain(TSerialPort& port) {
  std::string text;
  while (std::unique_ptr<TSerialCluster> cluster = port.TakeCluster()) {
    text.append(reinterpret_cast<const char*>(cluster->Data()), cluster->Size());
  }
  return text;
}

TEST(SerialPty, OpensExclusivelyWithItsSettings) {
  Pty pty;
  ASSERT_FALSE(pty.path().empty());
  TSerialPort port;
  Failure failure;
  CatchErrors(port, failure);
  port.SetCommPort(pty.path());
  port.SetBaudRate(19200);
  port.SetStopBits(2);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  EXPECT_EQ(failure.place, 0u) << failure.code;

  termios t{};
  ASSERT_EQ(tcgetattr(port.ComHandle(), &t), 0);
  EXPECT_EQ(cfgetispeed(&t), B19200);
  // A pseudo-terminal keeps eight bits without parity whatever it is told.
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_TRUE(fcntl(port.ComHandle(), F_GETFD) & FD_CLOEXEC);

  TSerialPort second;
  Failure second_failure;
  CatchErrors(second, second_failure);
  second.SetCommPort(pty.path());
  second.SetActive(true);
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second_failure.place, 112u);
  EXPECT_EQ(second_failure.code, static_cast<std::uint32_t>(EBUSY));

  // Closing gives the line back.
  port.SetActive(false);
  second.SetActive(true);
  EXPECT_TRUE(second.Active());
}

TEST(SerialPty, DataArrivesInClustersInOrder) {
  Pty pty;
  TSerialPort port;
  port.SetCommPort(pty.path());
  port.SetClusterSize(1000);
  port.SetRTOExtraDelayTime(20);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());

  std::string sent;
  for (int i = 0; i < 5000; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  pty.Write(sent);
  std::string received;
  ASSERT_TRUE(MainLoop::Instance().PumpUntil(
      [&] {
        received += Drain(port);
        return received.size() >= sent.size();
      },
      10s));
  EXPECT_EQ(received, sent);
}

TEST(SerialPty, MissingOrNonTtyPathsFailWithTheSystemCode) {
  test::TempDir dir;
  std::ofstream(dir / "plain") << "not a tty";
  TSerialPort port;
  Failure failure;
  CatchErrors(port, failure);
  port.SetCommPort((dir / "missing").string());
  port.SetActive(true);
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(failure.code, static_cast<std::uint32_t>(ENOENT));
  port.SetCommPort((dir / "plain").string());
  port.SetActive(true);
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(failure.code, static_cast<std::uint32_t>(ENOTTY));
}

}  // namespace
}  // namespace pmx
