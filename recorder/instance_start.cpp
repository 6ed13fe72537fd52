#include "recorder/instance_start.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "audio/streaming/au_strings.h"
#include "platform/ipc/instance_bus.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

struct RecordingOption {
  const char* text;
  TRemoteCommand command;
};

// Tested in this order.
constexpr RecordingOption kRecordingOptions[] = {
    {"-RECORDSTOP", rcStop},
    {"-RECORDSTART", rcStart},
    {"-RECORDPAUSE", rcPause},
    {"-RECORDRESTART", rcRestart},
};

std::optional<TRemoteCommand> RecordingCommand(const std::string& argument) {
  for (const RecordingOption& option : kRecordingOptions) {
    if (SameText(argument, option.text)) return option.command;
  }
  return std::nullopt;
}

constexpr int kRefusedExitCode = 2;
constexpr int kNoRecorderExitCode = 1;
// How long a start waits for a recorder of its name that is still starting: as
// long as for one that runs to answer.
constexpr std::chrono::milliseconds kStartingRecorderWait = InstanceBus::kReplyTimeout;

// A command that reached no recorder is an error for whoever sent it (a script,
// a service manager): it is told so.
TStartDecision Sent(int receivers, const std::string& command) {
  if (receivers > 0) return {};
  ShowMessageBox("No running recorder received " + command + ".", "Pelmorax");
  return {false, kNoRecorderExitCode, {}, {}, {}};
}

TStartDecision Refused(const std::string& text, int exit_code = kRefusedExitCode) {
  ShowMessageBox(text, "Pelmorax");
  return {false, exit_code, {}, {}, {}};
}

enum class NameOwner { kThisStart, kRunningRecorder, kSilentRecorder, kUnclaimable };

// Who runs under the window class: this start, when it could take the name's
// lock and nobody listens (a recorder that holds no lock still counts); a
// recorder that listens; one that took the name but did not begin to listen in
// time; or nobody, when the lock cannot be taken (error says why), so that no
// second recorder of the name can start. A recorder that ends meanwhile leaves
// the name to this start.
NameOwner ClaimOrFind(InstanceBus& bus, const std::string& window_class, UniqueFd& lock, int& error) {
  NameOwner owner = NameOwner::kSilentRecorder;
  MainLoop::Instance().PumpUntil(
      [&] {
        error = bus.ClaimName(window_class, lock);
        if (bus.Exists(window_class)) {
          lock.Reset();
          owner = NameOwner::kRunningRecorder;
          return true;
        }
        if (error == 0) owner = NameOwner::kThisStart;
        if (error != 0 && error != EWOULDBLOCK) owner = NameOwner::kUnclaimable;
        return error != EWOULDBLOCK;
      },
      kStartingRecorderWait);
  return owner;
}

TStartDecision CloseEveryRecorder(const std::string& option, InstanceBus& bus) {
  // A recorder that is still starting closes too, once it listens.
  for (const std::string& window_class : bus.ClaimedNames()) {
    UniqueFd lock;
    int error = 0;
    ClaimOrFind(bus, window_class, lock, error);
  }
  return Sent(bus.Broadcast({CommandMessage, kCommandSender, rcClose}, InstanceBus::kUntilHandled), option);
}

// Carries out the start's command in the running recorder: a named start's
// command goes to that recorder alone, a command without a name to every
// recorder.
TStartDecision HandOver(InstanceBus& bus, const std::string& window_class, bool named,
                        const std::string& option) {
  const auto command = SameText(option, "-CLOSE") ? std::optional(rcClose) : RecordingCommand(option);
  int receivers = 1;
  if (command) {
    const BusMessage message{CommandMessage, kCommandSender, *command};
    receivers = named ? static_cast<int>(bus.Send(window_class, message, InstanceBus::kUntilHandled) == 0)
                      : bus.Broadcast(message, InstanceBus::kUntilHandled);
  }
  if (command != rcClose) bus.Post(window_class, {InstanceShowMessage, 0, 0});
  return Sent(receivers, option);
}

}  // namespace

std::string InstanceName(const std::string& first_argument) {
  return RecordingCommand(first_argument) ? std::string() : first_argument;
}

std::string PrepareWindowClass(const std::string& instance_name) {
  return "Pelmorax " + instance_name;
}

TStartDecision MainSequence(const std::vector<std::string>& arguments, InstanceBus& bus) {
  const std::string first_argument = arguments.empty() ? std::string() : arguments.front();
  const std::string instance_name = InstanceName(first_argument);
  const bool close_all = SameText(instance_name, "-CLOSE");
  // An empty first argument is a script's unset variable, not the unnamed recorder.
  if (!arguments.empty() && first_argument.empty()) {
    return Refused("The instance name is empty: give a name, or no argument for the unnamed recorder.");
  }
  if (!close_all && !InstanceBus::ValidInstanceName(instance_name)) {
    return Refused(
        "The instance name cannot be used: it may have at most 54 characters and no \"/\" or "
        "control characters.");
  }
  if (const std::string problem = bus.FolderProblem(); !problem.empty()) {
    return Refused("The instance folder " + bus.Folder() + " cannot be used: " + problem +
                       ". Nothing was started or sent; remove it and it is made again, private to its user.",
                   kNoRecorderExitCode);
  }
  if (close_all) return CloseEveryRecorder(first_argument, bus);
  // After a name, a second argument is that recorder's command.
  const bool named_command = !instance_name.empty() && arguments.size() > 1;
  const std::string option = named_command ? arguments[1] : first_argument;
  if (named_command && !RecordingCommand(option) && !SameText(option, "-CLOSE")) {
    return Refused("\"" + option +
                   "\" is no command: after an instance name give -RECORDSTART, -RECORDSTOP, "
                   "-RECORDPAUSE, -RECORDRESTART or -CLOSE.");
  }
  const std::string window_class = PrepareWindowClass(instance_name);
  UniqueFd lock;
  int error = 0;
  switch (ClaimOrFind(bus, window_class, lock, error)) {
    case NameOwner::kThisStart:
      if (SameText(option, "-CLOSE")) return Sent(0, option);
      return {true, 0, instance_name, option, std::move(lock)};
    case NameOwner::kRunningRecorder:
      return HandOver(bus, window_class, named_command, option);
    case NameOwner::kUnclaimable:
      return Refused("The recorder \"" + window_class + "\" cannot take its name in " + bus.Folder() + ": " +
                         std::strerror(error) + ".",
                     kNoRecorderExitCode);
    case NameOwner::kSilentRecorder:
      break;
  }
  ShowMessageBox("The recorder \"" + window_class + "\" is running but does not answer.", "Pelmorax");
  return {false, kNoRecorderExitCode, {}, {}, {}};
}

}  // namespace pmx
