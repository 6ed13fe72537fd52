#pragma once

#include <functional>
#include <string>
#include <vector>

#include "recorder/instance_listener.h"

namespace pmx::test {

// A main window stand-in that notes every action asked of it.
class NotingTarget : public TRemoteCommandTarget {
 public:
  std::vector<std::string> actions;
  std::function<void(const std::string&)> on_action;

  void StopRecording() override { Note("StopRecording"); }
  void StartRecording() override { Note("StartRecording"); }
  void Close() override { Note("Close"); }
  void PauseRecording() override { Note("PauseRecording"); }
  void RestartRecording() override { Note("RestartRecording"); }
  void ShowInstanceRequest() override { Note("ShowInstanceRequest"); }

 private:
  void Note(const std::string& action) {
    actions.push_back(action);
    if (on_action) on_action(action);
  }
};

}  // namespace pmx::test
