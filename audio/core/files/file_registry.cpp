#include "audio/core/files/file_registry.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "audio/core/files/mpeg_file.h"
#include "audio/core/files/wave_file.h"

namespace pmx {
namespace {

std::string Upper(std::string text) {
  std::ranges::transform(text, text.begin(),
                         [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace

void TMMFileRegistry::Register(const TMMFileClass& fileClass, uint32_t priority) {
  std::lock_guard lock(mutex_);
  if (std::ranges::any_of(entries_,
                          [&](const Entry& e) { return e.FileClass.Name == fileClass.Name; }))
    return;
  const auto after =
      std::ranges::find_if(entries_, [&](const Entry& e) { return e.Priority > priority; });
  entries_.insert(after, Entry{fileClass, priority});
}

std::vector<TMMFileClass> TMMFileRegistry::Classes() const {
  std::lock_guard lock(mutex_);
  std::vector<TMMFileClass> classes;
  for (const Entry& e : entries_) classes.push_back(e.FileClass);
  return classes;
}

bool TMMFileRegistry::Find(TMMAudioFileType type, TMMFileClass& found) const {
  for (const TMMFileClass& c : Classes()) {
    if (c.FileType() == type) {
      found = c;
      return true;
    }
  }
  return false;
}

std::string TMMFileRegistry::Filter(bool withAllEntry) const {
  std::string joined;
  int contributors = 0;
  for (const TMMFileClass& c : Classes()) {
    const std::string filter = c.GetFilter();
    if (filter.empty()) continue;
    if (!joined.empty()) joined += '|';
    joined += filter;
    ++contributors;
  }
  if (withAllEntry && contributors > 1) {
    const std::string patterns = GetFilterExtensions(joined);
    joined = "All Audio Files (" + patterns + ")|" + patterns + "|" + joined;
  }
  return joined;
}

TMMFileRegistry& FileRegistry() {
  static TMMFileRegistry registry;
  // Filled on first use, so no other static's order of construction matters.
  static const bool filled = [] {
    registry.Register(FileClassOf<TMMWaveFile>("TMMWaveFile"), 5);
    registry.Register(FileClassOf<TMMMPEGFile>("TMMMPEGFile"), 1);
    return true;
  }();
  (void)filled;
  return registry;
}

void RegisterFileClass(const TMMFileClass& fileClass, uint32_t priority) {
  FileRegistry().Register(fileClass, priority);
}

bool FindFileClass(TMMAudioFileType type, TMMFileClass& found) {
  return FileRegistry().Find(type, found);
}

std::string GetAudioFileFilter(bool withAllEntry) { return FileRegistry().Filter(withAllEntry); }

std::string GetFilterExtensions(const std::string& filter) {
  std::string result;
  std::istringstream fields(filter + "|");
  std::string description;
  std::string pattern;
  while (std::getline(fields, description, '|') && std::getline(fields, pattern, '|')) {
    if (pattern.empty() || result.find(pattern) != std::string::npos) continue;
    if (!result.empty() && result.back() != ';') result += ';';
    result += pattern;
  }
  return result;
}

bool ExtensionAdmitted(const std::string& name, const std::string& patterns) {
  const std::string extension = Upper(std::filesystem::path(name).extension().string());
  if (extension.empty()) return true;
  std::istringstream list(Upper(patterns));
  for (std::string pattern; std::getline(list, pattern, ';');) {
    if (pattern == "*" + extension) return true;
  }
  return false;
}

bool NamesAudioSource(const std::string& name) {
  const std::string upper = Upper(name);
  std::error_code error;
  return std::filesystem::is_regular_file(name, error) ||
         upper.find("RESOURCE://") != std::string::npos ||
         upper.find("POINTER://") != std::string::npos;
}

}  // namespace pmx
