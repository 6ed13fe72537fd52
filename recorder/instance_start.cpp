#include "recorder/instance_start.h"

#include <optional>

#include "audio/streaming/au_strings.h"
#include "platform/instance_bus.h"
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

// A command that reached no recorder is an error for whoever sent it (a script,
// a service manager): it is told so.
TStartDecision Sent(int receivers, const std::string& command) {
  if (receivers > 0) return {};
  ShowMessageBox("No running recorder received " + command + ".", "Pelmorax");
  return {false, kNoRecorderExitCode, {}, {}};
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
  if (SameText(instance_name, "-CLOSE")) {
    return Sent(bus.Broadcast({CommandMessage, kCommandSender, rcClose}), first_argument);
  }
  if (!InstanceBus::ValidInstanceName(instance_name)) {
    ShowMessageBox(
        "The instance name cannot be used: it may have at most 54 characters and no \"/\" or "
        "control characters.",
        "Pelmorax");
    return {false, kRefusedExitCode, {}, {}};
  }
  const std::string window_class = PrepareWindowClass(instance_name);
  if (!bus.Exists(window_class)) {
    return {true, 0, instance_name, first_argument};
  }
  const auto command = RecordingCommand(first_argument);
  const int receivers = command ? bus.Broadcast({CommandMessage, kCommandSender, *command}) : 1;
  bus.Post(window_class, {InstanceShowMessage, 0, 0});
  return Sent(receivers, first_argument);
}

}  // namespace pmx
