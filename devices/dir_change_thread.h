#pragma once

#include <functional>
#include <memory>

#include "audio/core/objects/thread.h"
#include "platform/dir_watch.h"

namespace pmx {

// Waits on a folder's change notifications and runs the on-change callback on
// the GUI thread after each batch. When the folder goes away it runs the
// callback once more and ends by itself.
//
// Threads: constructed, stopped and joined by the GUI thread; Execute owns the
// watch; the callback runs on the GUI thread through MainLoop::Synchronize.
class TThDirChange : public TThread {
 public:
  TThDirChange(std::unique_ptr<DirWatch> watch, std::function<void()> on_change)
      : TThread("pmx-dirwatch"), watch_(std::move(watch)), on_change_(std::move(on_change)) {}
  ~TThDirChange() override;

  // Asks the thread to end and cuts its wait short.
  void Stop();

 protected:
  void Execute() override;

 private:
  const std::unique_ptr<DirWatch> watch_;
  const std::function<void()> on_change_;
};

}  // namespace pmx
