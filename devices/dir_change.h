#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/core/objects/component.h"
#include "devices/dir_change_thread.h"

namespace pmx {

// What a folder listing tells of one entry. Times in nanoseconds since 1970;
// a creation time the file system does not keep is 0.
struct TFindData {
  static constexpr std::uint32_t kReadOnly = 0x01;
  static constexpr std::uint32_t kDirectory = 0x10;
  static constexpr std::uint32_t kNormal = 0x80;

  std::uint32_t Attributes = 0;
  std::int64_t CreationTime = 0;
  std::int64_t LastAccessTime = 0;
  std::int64_t LastWriteTime = 0;
  std::uint64_t Size = 0;
  std::string FileName;
};

using TDirCh = std::function<void(TObject* sender, const TFindData& item1, const TFindData& item2)>;
using TDirCh1 = std::function<void(TObject* sender, const TFindData& item)>;

// The entries of a folder whose name does not begin with "."; an unreadable
// folder lists nothing.
std::vector<TFindData> DirSnapshot(const std::string& folder);

// Watches one folder and tells, after every change, which entries changed,
// appeared, disappeared or were renamed.
//
// Threads: a GUI-thread component. Its watch thread only waits and runs the
// comparison on the GUI thread, so the snapshot and every event live there.
class TDirChange : public TComponent {
 public:
  explicit TDirChange(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TDirChange() override;

  // False as soon as the watch has ended, also when the folder went away.
  bool Active() const { return thread_ && !thread_->Finished(); }
  // Switching off waits until the watch has ended.
  void SetActive(bool value);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& value);

  TDirCh OnChangeAttributes, OnChangeCreationTime, OnChangeAccessTime, OnChangeWriteTime, OnChangeSize,
      OnAnyChange;
  TDirCh1 OnChangeDeleted, OnChangeNew, OnChangeRenamed;

 private:
  void Activate();
  void Stop();
  void Diff();
  void CompareOld(const std::vector<TFindData>& fresh);
  void ReportNew(const std::vector<TFindData>& fresh);

  std::string directory_;
  std::vector<TFindData> snapshot_;
  std::unique_ptr<TThDirChange> thread_;
};

}  // namespace pmx
