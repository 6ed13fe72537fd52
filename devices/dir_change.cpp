#include "devices/dir_change.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string_view>
#include <unordered_map>

namespace pmx {
namespace {

std::int64_t Nanoseconds(const statx_timestamp& t) { return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

bool Describe(int dir_fd, const char* name, TFindData& data) {
  struct statx st {};
  if (statx(dir_fd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) return false;
  data.FileName = name;
  data.Size = S_ISDIR(st.stx_mode) ? 0 : st.stx_size;
  data.LastAccessTime = Nanoseconds(st.stx_atime);
  data.LastWriteTime = Nanoseconds(st.stx_mtime);
  data.CreationTime = (st.stx_mask & STATX_BTIME) ? Nanoseconds(st.stx_btime) : 0;
  if (S_ISDIR(st.stx_mode)) data.Attributes |= TFindData::kDirectory;
  if (!(st.stx_mode & S_IWUSR)) data.Attributes |= TFindData::kReadOnly;
  if (data.Attributes == 0) data.Attributes = TFindData::kNormal;
  return true;
}

const TFindData kEmpty;

// Entries by name; a folder of many recordings must not cost a square of them.
using NameIndex = std::unordered_map<std::string_view, const TFindData*>;

NameIndex IndexByName(const std::vector<TFindData>& list) {
  NameIndex index;
  index.reserve(list.size());
  for (const TFindData& entry : list) index.emplace(entry.FileName, &entry);
  return index;
}

const TFindData* FindByName(const NameIndex& index, const std::string& name) {
  const auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

}  // namespace

std::vector<TFindData> DirSnapshot(const std::string& folder) {
  std::vector<TFindData> list;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return list;
  while (const dirent* entry = readdir(dir)) {
    TFindData data;
    // An entry removed between listing and looking is simply not there.
    if (entry->d_name[0] != '.' && Describe(dirfd(dir), entry->d_name, data)) list.push_back(std::move(data));
  }
  closedir(dir);
  return list;
}

TDirChange::~TDirChange() { Stop(); }

void TDirChange::SetActive(bool value) {
  if (!value) {
    Stop();
  } else if (!Active()) {
    Activate();
  }
}

void TDirChange::SetDirectory(const std::string& value) {
  const bool was_active = Active();
  Stop();
  directory_ = value;
  if (was_active) Activate();
}

void TDirChange::Activate() {
  Stop();  // reaps a watch that ended by itself
  if (directory_.empty() || directory_.back() != '/') directory_ += '/';
  int error = 0;
  // Watching starts before the listing, so that no change falls between them.
  std::unique_ptr<DirWatch> watch = DirWatch::Open(directory_, error);
  if (!watch) return;
  snapshot_ = DirSnapshot(directory_);
  auto thread = std::make_unique<TThDirChange>(std::move(watch), [this] { Diff(); });
  if (thread->Start()) thread_ = std::move(thread);
}

void TDirChange::Stop() {
  if (!thread_) return;
  thread_->Stop();
  thread_->WaitFor();
  thread_.reset();
}

void TDirChange::Diff() {
  std::vector<TFindData> fresh = DirSnapshot(directory_);
  CompareOld(fresh);
  ReportNew(fresh);
  snapshot_ = std::move(fresh);
}

void TDirChange::CompareOld(const std::vector<TFindData>& fresh) {
  const NameIndex index = IndexByName(fresh);
  for (const TFindData& old : snapshot_) {
    const TFindData* now = FindByName(index, old.FileName);
    if (!now) {
      if (fresh.size() < snapshot_.size() && OnChangeDeleted) OnChangeDeleted(this, old);
      if (OnAnyChange) OnAnyChange(this, old, kEmpty);
      continue;
    }
    bool changed = false;
    auto check = [&](bool differs, const TDirCh& event) {
      if (!differs) return;
      changed = true;
      if (event) event(this, old, *now);
    };
    check(old.Attributes != now->Attributes, OnChangeAttributes);
    check(old.CreationTime != now->CreationTime, OnChangeCreationTime);
    check(old.LastAccessTime != now->LastAccessTime, OnChangeAccessTime);
    check(old.LastWriteTime != now->LastWriteTime, OnChangeWriteTime);
    check(old.Size != now->Size, OnChangeSize);
    if (changed && OnAnyChange) OnAnyChange(this, old, *now);
  }
}

void TDirChange::ReportNew(const std::vector<TFindData>& fresh) {
  const NameIndex index = IndexByName(snapshot_);
  for (const TFindData& entry : fresh) {
    if (FindByName(index, entry.FileName)) continue;
    if (fresh.size() == snapshot_.size() && OnChangeRenamed) OnChangeRenamed(this, entry);
    if (fresh.size() > snapshot_.size() && OnChangeNew) OnChangeNew(this, entry);
    if (OnAnyChange) OnAnyChange(this, entry, kEmpty);
  }
}

}  // namespace pmx
