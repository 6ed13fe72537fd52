#pragma once

#include <cstdint>
#include <string>

#include "platform/ipc/instance_bus.h"

namespace pmx {

// What other starts of the program and other recorders may ask of a running
// recorder. The main window implements it.
class TRemoteCommandTarget {
 public:
  virtual ~TRemoteCommandTarget() = default;

  virtual void StopRecording() = 0;
  virtual void StartRecording() = 0;
  // Closes the main window the way the user's exit does, without asking first.
  virtual void Close() = 0;
  virtual void PauseRecording() = 0;
  virtual void RestartRecording() = 0;
  // Restores the minimized application, else brings its main window to the front.
  virtual void ShowInstanceRequest() = 0;
};

// The main window's presence on the instance bus: it makes the recorder findable
// under its window class, carries out the commands that arrive, and sends the
// alarm message.
//
// Threads: the GUI thread owns it; the target's actions run there, inside the
// handling of the message, while the sender of a command waits. They must not
// destroy this listener (closing starts the window's close; the owner destroys
// the listener after the message loop has ended).
class TInstanceListener {
 public:
  explicit TInstanceListener(TRemoteCommandTarget& target,
                             std::string folder = InstanceBus::DefaultFolder());
  TInstanceListener(const TInstanceListener&) = delete;
  TInstanceListener& operator=(const TInstanceListener&) = delete;

  // Listens under the instance name's window class. On failure (another
  // recorder took the name meanwhile, or the bus folder is unusable) the user
  // is told that this recorder cannot be reached, and it runs on without.
  bool Listen(const std::string& instance_name);

  // Tells this window apart from every other on the bus; never kCommandSender.
  std::int64_t Handle() const { return handle_; }

  // Every message that reaches the window.
  void DefaultHandler(const BusMessage& message);
  // One of TRemoteCommand; other values do nothing.
  void ExecuteRemoteCommand(std::int64_t command);
  // Sends the alarm message to every listener (companion players included):
  // state 1 no signal, 0 normal.
  void BroadcastAlarm(int state);

  // A stop signal (SIGTERM, SIGINT, SIGHUP: a service manager's stop) ends the
  // recorder as the close command does: the recording is finished (every
  // captured byte written, the header fixed, the encoder started), both ends are
  // logged, and the program then ends even with a dialog open. Later signals
  // change nothing. Threads: the GUI thread, outside every other handler.
  void CloseOnStopSignal(int signal);
  // The same close when the display is gone (the program then ends with it).
  // Threads: the GUI thread.
  void CloseOnDisplayLoss();

 private:
  // what_came and cause as the log tells them.
  void CloseLogged(const std::string& what_came, const std::string& cause);

  TRemoteCommandTarget& target_;
  const std::int64_t handle_;
  bool closing_ = false;  // a stop signal or the display's loss is being carried out
  InstanceBus bus_;  // last: its listener thread stops before the rest goes
};

}  // namespace pmx
