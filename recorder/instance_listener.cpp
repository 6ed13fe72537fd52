#include "recorder/instance_listener.h"

#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include "platform/ui_hook.h"
#include "recorder/event_log.h"
#include "recorder/instance_start.h"

namespace pmx {
namespace {

// The process id in the upper bits keeps handles apart between processes; any
// of them is far above kCommandSender.
std::int64_t NewHandle() {
  static std::atomic<std::int64_t> next{1};
  return (std::int64_t{getpid()} << 16) | (next.fetch_add(1) & 0xFFFF);
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace

TInstanceListener::TInstanceListener(TRemoteCommandTarget& target, std::string folder)
    : target_(target), handle_(NewHandle()), bus_(std::move(folder)) {}

bool TInstanceListener::Listen(const std::string& instance_name) {
  const int error = bus_.Listen(PrepareWindowClass(instance_name),
                                [this](const BusMessage& m) { DefaultHandler(m); });
  if (error == 0) return true;
  const std::string reason =
      error == EADDRINUSE ? "another recorder runs under the same name" : std::strerror(error);
  ShowMessageBox("This recorder cannot receive commands from other starts: " + reason + ".",
                 "Pelmorax");
  return false;
}

void TInstanceListener::DefaultHandler(const BusMessage& message) {
  if (message.name == CommandMessage) {
    if (message.wparam != handle_) ExecuteRemoteCommand(message.lparam);
  } else if (message.name == InstanceShowMessage) {
    target_.ShowInstanceRequest();
  }
}

void TInstanceListener::ExecuteRemoteCommand(std::int64_t command) {
  switch (command) {
    case rcStop:
      target_.StopRecording();
      break;
    case rcStart:
      target_.StartRecording();
      break;
    case rcClose:
      target_.Close();
      break;
    case rcPause:
      target_.PauseRecording();
      break;
    case rcRestart:
      target_.RestartRecording();
      break;
    default:
      break;
  }
}

void TInstanceListener::BroadcastAlarm(int state) {
  bus_.Broadcast({AlarmMessage, handle_, state});
}

void TInstanceListener::CloseOnStopSignal(int signal) {
  CloseLogged(SignalName(signal) + " received", SignalName(signal));
}

void TInstanceListener::CloseOnDisplayLoss() { CloseLogged("The display was lost", "the loss of the display"); }

void TInstanceListener::CloseLogged(const std::string& what_came, const std::string& cause) {
  if (std::exchange(closing_, true)) return;
  NoteInMonthlyLog(what_came + ": finishing the recording and closing");
  ExecuteRemoteCommand(rcClose);
  NoteInMonthlyLog("Closed on " + cause);
  QApplication::quit();
}

}  // namespace pmx
