#pragma once

#include <cstdint>

namespace pmx {

// What the control tick shares with the recording lifecycle and the main window's
// start-up (which finds the port access, sets the counts and takes the first
// samples). The main window owns it and lends it to both.
// Threads: GUI thread only.
struct TRecorderState {
  // Whether the program may drive the parallel port; callers of PortIn and PortOut
  // (platform/ports/port_io.h) test it first.
  bool PortAccess = false;
  // Ticks before a clock-mode start is allowed again.
  int32_t GapCountdown = 0;
  // Consecutive ticks of a running recording below the threshold; wraps.
  uint16_t SilenceCount = 0;
  // The parallel status register and the serial DSR and CTS lines as last sampled.
  uint8_t PrevLptStatus = 0;
  bool PrevDSR = false;
  bool PrevCTS = false;
};

}  // namespace pmx
