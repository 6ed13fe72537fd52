#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace pmx {

class InstanceBus;

// The messages the recorder's instances exchange on the instance bus.
//
// Commands between instances: wParam the sender (kCommandSender from a start
// of the program), lParam a TRemoteCommand.
inline constexpr char CommandMessage[] = "Pelmorax Message";
// The silence alarm for the companion player: wParam the sending window's
// handle, lParam 1 for no signal, 0 for normal.
inline constexpr char AlarmMessage[] = "Pelmorax_Message_4_Sembrix";
// Brings the running instance to the front; wParam and lParam 0.
inline constexpr char InstanceShowMessage[] = "0x1400";
inline constexpr std::int64_t kCommandSender = 5000;

enum TRemoteCommand : std::int64_t {
  rcStop = 0,
  rcStart = 1,
  rcClose = 2,
  rcPause = 3,
  rcRestart = 4,
};

// The name a start of the program runs under: its first argument, or empty
// when that is one of the four recording commands (in any case).
std::string InstanceName(const std::string& first_argument);
// The class a main window is found by: "Pelmorax " followed by the instance name.
std::string PrepareWindowClass(const std::string& instance_name);

// What a start of the program does after MainSequence.
struct TStartDecision {
  bool become_recorder = false;
  // The program's exit code when it does not become a recorder.
  int exit_code = 0;
  std::string instance_name;
  // The recording option as given (the first argument, or the second after an
  // instance name); the main window starts recording when shown when it says
  // "-RECORDSTART".
  std::string recording_option;
  // Held as long as the recorder runs: no other start becomes a recorder of the
  // same name meanwhile.
  UniqueFd name_lock;
};

// Decides a start of the program from its arguments (without the program's
// own name): "-CLOSE" closes every running recorder; when a recorder of the
// same instance name runs (or is starting), a recording command goes to every
// recorder and the found one comes to the front; else the start becomes a
// recorder itself. An instance name followed by a command ("-CLOSE" too) gives
// the command to that recorder alone, or starts it with the command. Each
// command returns once the recorders have carried it out. An instance name the
// bus cannot carry, an empty one or an unknown option after it is refused with a
// message (exit code 2); so is every start (exit code 1) while the instance
// folder cannot be trusted or the name's lock cannot be taken.
// Threads: the GUI thread, before any window exists.
TStartDecision MainSequence(const std::vector<std::string>& arguments, InstanceBus& bus);

}  // namespace pmx
