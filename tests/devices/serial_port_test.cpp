#include "devices/serial_port.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/main_loop.h"
#include "platform/ports/fake_serial_device.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::Pair;

bool WaitUntil(const std::function<bool()>& done) { return MainLoop::Instance().PumpUntil(done, 5s); }

struct Report {
  std::uint32_t place;
  std::uint32_t code;
  std::string msg;
  std::uint8_t noise;
};

// A port on a fake line that records its events and error reports.
class SerialPortTest : public ::testing::Test {
 protected:
  SerialPortTest() {
    port_.SetOpener(line_->Opener());
    port_.SetCommPort("COM1");
    port_.OnProcessError = [this](TObject*, std::uint32_t place, std::uint32_t code, const std::string& msg,
                                  std::uint8_t noise) { reports_.push_back({place, code, msg, noise}); };
  }

  void Record(TNotifyEvent& event, const std::string& name) {
    event = [this, name](TObject* sender) {
      EXPECT_EQ(sender, &port_);
      events_.push_back(name);
    };
  }

  bool Reported(std::uint32_t place) const {
    for (const Report& r : reports_) {
      if (r.place == place) return true;
    }
    return false;
  }

  std::shared_ptr<FakeSerialDevice> line_ = std::make_shared<FakeSerialDevice>();
  TSerialPort port_;
  std::vector<Report> reports_;
  std::vector<std::string> events_;
};

TEST_F(SerialPortTest, ModemLineChangesReachTheStateBeforeTheirEventsInOrder) {
  Record(port_.OnCTSEvent, "CTS");
  Record(port_.OnDSREvent, "DSR");
  Record(port_.OnRingEvent, "Ring");
  Record(port_.OnRLSDEvent, "RLSD");
  Record(port_.OnRIEvent, "RI");
  Record(port_.OnCommEvent, "Comm");
  bool dsr_seen_in_handler = false;
  port_.OnDSREvent = [&](TObject*) {
    dsr_seen_in_handler = port_.DSRState();
    events_.push_back("DSR");
  };
  port_.SetActive(true);
  ASSERT_TRUE(port_.Active());

  line_->SetInputLines(TIOCM_DSR);
  ASSERT_TRUE(WaitUntil([&] { return events_.size() >= 2; }));
  EXPECT_THAT(events_, ElementsAre("DSR", "Comm"));
  EXPECT_TRUE(dsr_seen_in_handler);
  EXPECT_TRUE(port_.DSRState());
  EXPECT_FALSE(port_.CTSState());

  events_.clear();
  line_->SetInputLines(TIOCM_DSR | TIOCM_CTS | TIOCM_RI | TIOCM_CD);
  ASSERT_TRUE(WaitUntil([&] { return events_.size() >= 5; }));
  // The RING line's own change is seen while the status is read, before the batch.
  EXPECT_THAT(events_, ElementsAre("RI", "CTS", "Ring", "RLSD", "Comm"));
  EXPECT_EQ(port_.ModemState(), modem_status::kCtsOn | modem_status::kDsrOn | modem_status::kRingOn |
                                    modem_status::kRlsdOn);
  EXPECT_TRUE(port_.CTSState() && port_.RingState() && port_.RLSDState());
  EXPECT_EQ(port_.CommEvent(), comm_event::kCts | comm_event::kRing | comm_event::kRlsd);

  events_.clear();
  line_->SetInputLines(0);
  ASSERT_TRUE(WaitUntil([&] { return events_.size() >= 6; }));
  EXPECT_THAT(events_, ElementsAre("RI", "CTS", "DSR", "Ring", "RLSD", "Comm"));
  EXPECT_EQ(port_.ModemState(), 0u);
}

TEST_F(SerialPortTest, ShortPulseBetweenTwoLooksStillRaisesItsEvent) {
  Record(port_.OnDSREvent, "DSR");
  port_.SetActive(true);
  line_->SetInputLines(TIOCM_DSR);
  line_->SetInputLines(0);
  // The worker may look between the two changes; either way the pulse raises its event and the
  // line settles low.
  ASSERT_TRUE(WaitUntil([&] { return !events_.empty() && !port_.DSRState(); }));
}

TEST_F(SerialPortTest, OpeningRaisesDtrAndRtsAndOnlyAnActivePortMovesThem) {
  port_.SetActive(true);
  port_.SetDTRState(false);
  port_.SetRTSState(false);
  port_.SetActive(false);
  port_.SetDTRState(true);  // closed: nothing happens, not even to the property
  EXPECT_FALSE(port_.DTRState());
  port_.SetActive(true);
  EXPECT_TRUE(port_.DTRState());
  EXPECT_THAT(line_->LineHistory(),
              ElementsAre(Pair(TIOCM_DTR, true), Pair(TIOCM_RTS, true), Pair(TIOCM_DTR, false),
                          Pair(TIOCM_RTS, false), Pair(TIOCM_DTR, true), Pair(TIOCM_RTS, true)));
  port_.SetBREAKState(true);
  EXPECT_TRUE(line_->BreakOn());
}

TEST_F(SerialPortTest, LineFailuresAreReportedAndThePropertyFollowsTheRequest) {
  port_.SetActive(true);
  line_->Fail(FakeSerialDevice::Op::kSetModemBit, EIO);
  port_.SetDTRState(false);
  port_.SetRTSState(true);
  EXPECT_FALSE(port_.DTRState());
  ASSERT_TRUE(Reported(602));
  ASSERT_TRUE(Reported(501));
  EXPECT_EQ(reports_.back().msg, "Error setting RTS");
  EXPECT_EQ(reports_.back().code, static_cast<std::uint32_t>(EIO));
}

TEST_F(SerialPortTest, FailedOpenLeavesThePortClosedWithTheSystemCode) {
  line_->SetOpenError(EBUSY);
  port_.SetActive(true);
  EXPECT_FALSE(port_.Active());
  EXPECT_EQ(port_.ComHandle(), -1);
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[0].msg, "Msg start reactivating Port");
  EXPECT_EQ(reports_[0].noise, 2);
  EXPECT_EQ(reports_[1].place, 112u);
  EXPECT_EQ(reports_[1].code, static_cast<std::uint32_t>(EBUSY));
  EXPECT_EQ(reports_[1].msg, "Error reopening Port");
  EXPECT_EQ(reports_[1].noise, 0);
}

TEST_F(SerialPortTest, ErrorNoiseFiltersReports) {
  port_.SetErrorNoise(0);
  port_.SetXONLimDiv(150);
  line_->SetOpenError(ENOENT);
  port_.SetActive(true);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].place, 112u);
}

TEST_F(SerialPortTest, LimitAbove100IsWarnedAndClamped) {
  port_.SetXOFFLimDiv(150);
  EXPECT_EQ(port_.XOFFLimDiv(), 100);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].place, 100u);
  EXPECT_EQ(reports_[0].code, 150u);
  EXPECT_EQ(reports_[0].noise, 1);
  EXPECT_EQ(reports_[0].msg, "Warning XOffLimDef set to 100");
}

TEST_F(SerialPortTest, CharacterDelaysFollowTheBaudRate) {
  port_.SetBaudRate(19200);
  EXPECT_EQ(port_.RTOCharDelayTime(), 570u);
  EXPECT_EQ(port_.WTOCharDelayTime(), 570u);
  port_.SetBaudRate(20000);  // between rows: the lower row counts
  EXPECT_EQ(port_.RTOCharDelayTime(), 570u);
  port_.SetBaudRate(50);
  EXPECT_EQ(port_.RTOCharDelayTime(), TSerialPort::kDefaultCharDelay);
  port_.SetBaudRate(300000);
  EXPECT_EQ(port_.RTOCharDelayTime(), 43u);
  port_.SetXTOAuto(false);
  port_.SetBaudRate(110);
  EXPECT_EQ(port_.RTOCharDelayTime(), 43u);
  port_.SetXTOAuto(true);
  EXPECT_EQ(port_.RTOCharDelayTime(), 100000u);
}

TEST_F(SerialPortTest, SettingsReachTheLineAndAreReappliedWhileOpen) {
  port_.SetParityType(2);
  port_.SetDataBits(7);
  port_.SetStripNullChars(true);
  port_.SetActive(true);
  SerialSettings s = line_->Settings();
  EXPECT_EQ(s.baud_rate, 9600u);
  EXPECT_EQ(s.parity, 2);
  EXPECT_EQ(s.data_bits, 7);
  EXPECT_EQ(s.flags, serial_flag::kBinary | serial_flag::kParity | serial_flag::kNull);
  EXPECT_EQ(s.xon_limit, 4096u * 33 / 100);
  port_.SetBaudRate(115200);
  EXPECT_EQ(line_->Settings().baud_rate, 115200u);

  line_->Fail(FakeSerialDevice::Op::kApplySettings, EINVAL);
  port_.SetStopBits(2);
  EXPECT_TRUE(Reported(802));
  line_->Fail(FakeSerialDevice::Op::kCheckSettings, EIO);
  port_.SetStopBits(0);
  EXPECT_TRUE(Reported(801));
}

TEST_F(SerialPortTest, QueueSizeOnAClosedPortIsAnError) {
  port_.SetRxQueueSize(1024);
  EXPECT_EQ(port_.RxQueueSize(), 1024);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].place, 101u);
  EXPECT_EQ(reports_[0].msg, "Error can not set Quesize");
  port_.SetActive(true);
  reports_.clear();
  port_.SetTxQueueSize(1024);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(SerialPortTest, ChangingThePortNameReopensOnlyAnOpenPort) {
  port_.SetCommPort("COM3");
  EXPECT_EQ(line_->Opens(), 0);
  port_.SetActive(true);
  port_.SetCommPort("COM4");
  EXPECT_TRUE(port_.Active());
  EXPECT_EQ(line_->Opens(), 2);
}

TEST_F(SerialPortTest, ReceivedBytesArriveAsClustersWithTheirEvents) {
  Record(port_.OnRxCharEvent, "RxChar");
  Record(port_.OnRxEventCharEvent, "RxFlag");
  Record(port_.OnRxClusterEvent, "Cluster");
  port_.SetEventChar('\n');
  port_.SetClusterSize(4);
  port_.SetActive(true);
  line_->Receive({'a', 'b', 0, 'c', '\n'});
  ASSERT_TRUE(WaitUntil([&] { return port_.ClusterCount() > 0; }));
  std::unique_ptr<TSerialCluster> cluster = port_.TakeCluster();
  ASSERT_EQ(cluster->Size(), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cluster->Data()), 5), std::string("ab\0c\n", 5));
  ASSERT_TRUE(WaitUntil([&] { return events_.size() >= 3; }));
  EXPECT_NE(std::find(events_.begin(), events_.end(), "RxFlag"), events_.end());
}

TEST_F(SerialPortTest, NullBytesAreStrippedOnRequestAndASmallQueueLosesNothing) {
  port_.SetStripNullChars(true);
  port_.SetRxQueueSize(4);
  port_.SetReadRequest(true);
  port_.SetRTOExtraDelayTime(0);
  port_.SetActive(true);
  line_->Receive({'a', 0, 'b', 'c', 'd', 'e', 0, 'f', 'g', 'h'});
  std::string received;
  ASSERT_TRUE(WaitUntil([&] {
    while (std::unique_ptr<TSerialCluster> cluster = port_.TakeCluster()) {
      received.append(reinterpret_cast<const char*>(cluster->Data()), cluster->Size());
    }
    return received.size() >= 8;
  }));
  EXPECT_EQ(received, "abcdefgh");
}

TEST_F(SerialPortTest, DamagedCharactersBecomeTheErrorCharacter) {
  port_.SetParityType(2);
  port_.SetParityErrorReplacement(true);
  port_.SetParityErrorChar('?');
  port_.SetReadRequest(true);
  port_.SetActive(true);
  // As the tty marks them: a damaged 'x', then a real FF.
  line_->Receive({'a', 0xFF, 0x00, 'x', 'b', 0xFF, 0xFF, 'c'});
  ASSERT_TRUE(WaitUntil([&] { return port_.ClusterCount() > 0; }));
  std::unique_ptr<TSerialCluster> cluster = port_.TakeCluster();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cluster->Data()), cluster->Size()), "a?b\xFF" "c");
}

TEST_F(SerialPortTest, FewBytesWaitForTheReadRequest) {
  port_.SetRTOExtraDelayTime(60000);
  port_.SetActive(true);
  line_->Receive({'x', 'y'});
  ASSERT_TRUE(WaitUntil([&] { return port_.CommStateInQueue() == 2; }));
  EXPECT_EQ(port_.ClusterCount(), 0u);
  port_.SetReadRequest(true);
  ASSERT_TRUE(WaitUntil([&] { return port_.ClusterCount() == 1; }));
  EXPECT_FALSE(port_.ReadRequest());
  EXPECT_EQ(port_.TakeCluster()->Size(), 2u);
}

TEST_F(SerialPortTest, LineErrorsRaiseTheirEventAndShowInTheStatus) {
  Record(port_.OnLineErrorEvent, "LineError");
  Record(port_.OnBreakEvent, "Break");
  std::uint32_t errors_seen = 0;
  port_.OnCommStat = [&](TObject*) { errors_seen |= port_.CommError(); };
  port_.SetActive(true);
  line_->AddFrameErrors(1);
  line_->AddBreaks(1);
  ASSERT_TRUE(WaitUntil([&] { return events_.size() >= 2; }));
  EXPECT_EQ(errors_seen & (line_error::kFrame | line_error::kBreak), line_error::kFrame | line_error::kBreak);
}

TEST_F(SerialPortTest, QuietModeDeliversNothing) {
  Record(port_.OnDSREvent, "DSR");
  port_.SetThreadQuietMode(true);
  port_.SetActive(true);
  line_->SetInputLines(TIOCM_DSR);
  ASSERT_TRUE(WaitUntil([&] { return port_.DSRState(); }));
  line_->Fail(FakeSerialDevice::Op::kModemBits, EIO);
  // A failing line reports nothing in quiet mode and must not spin the worker.
  port_.SetActive(false);
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(Reported(9905));
}

TEST_F(SerialPortTest, WorkerErrorsReachTheGuiThread) {
  port_.SetActive(true);
  line_->Fail(FakeSerialDevice::Op::kModemBits, EIO);
  ASSERT_TRUE(WaitUntil([&] { return Reported(9905); }));
  port_.SetActive(false);
  EXPECT_FALSE(port_.Active());
}

}  // namespace
}  // namespace pmx
