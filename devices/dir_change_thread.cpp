#include "devices/dir_change_thread.h"

#include "platform/gui_sync.h"

namespace pmx {

TThDirChange::~TThDirChange() {
  Stop();
  WaitFor();
}

void TThDirChange::Stop() {
  Terminate();
  watch_->Interrupt();
}

void TThDirChange::Execute() {
  while (!Terminated()) {
    const DirWatch::Result result = watch_->Wait(std::chrono::seconds(1));
    if (Terminated()) return;
    if (result == DirWatch::Result::kChanged || result == DirWatch::Result::kGone) {
      SynchronizeFromWorker(on_change_);
    }
    if (result == DirWatch::Result::kGone) return;
  }
}

}  // namespace pmx
