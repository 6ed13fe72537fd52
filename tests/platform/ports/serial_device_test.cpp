#include "platform/ports/serial_device.h"

#include <termios.h>

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(SerialDevicePath, ComNamesMapToTtys) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(SerialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDevicePath("ttyACM0"), "/dev/ttyACM0");
  setenv("PELMORAX_COM7", "/dev/ttyUSB3", 1);
  EXPECT_EQ(SerialDevicePath("COM7"), "/dev/ttyUSB3");
  unsetenv("PELMORAX_COM7");
}

TEST(SerialTermios, ParityStopAndDataBitsMapOntoTheTty) {
  termios t{};
  SerialSettings s;
  s.baud_rate = 19200;
  s.data_bits = 7;
  s.parity = 3;  // mark
  s.stop_bits = 1;
  s.flags = serial_flag::kBinary | serial_flag::kParity | serial_flag::kOutX | serial_flag::kRtsHandshake |
            serial_flag::kErrorChar;
  s.xon_char = 0x11;
  s.xoff_char = 0x13;
  ASSERT_EQ(SerialTermios(s, t), 0);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS),
            static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK), static_cast<tcflag_t>(IXON | INPCK | PARMRK));
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  s.parity = 0;  // none: the bits of an earlier setting go
  s.stop_bits = 0;
  s.data_bits = 8;
  s.flags = serial_flag::kBinary;
  ASSERT_EQ(SerialTermios(s, t), 0);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK), 0u);
}

TEST(SerialTermios, WhatATtyCannotDoIsRefused) {
  termios t{};
  SerialSettings s;
  s.baud_rate = 12345;
  EXPECT_EQ(SerialTermios(s, t), EINVAL);
  s = {};
  s.data_bits = 9;
  EXPECT_EQ(SerialTermios(s, t), EINVAL);
  s = {};
  s.parity = 5;
  EXPECT_EQ(SerialTermios(s, t), EINVAL);
}

}  // namespace
}  // namespace pmx
