#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/core/files/custom_file.h"

namespace pmx {

// One kind of audio file: its kind-wide queries and how to make a component that
// reads it. Filled from a file class's static members by FileClassOf.
struct TMMFileClass {
  std::string Name;
  TMMAudioFileType (*FileType)() = nullptr;
  bool (*CanLoad)(const std::string& name, const TMMDecryptCallback& decrypt,
                  uint8_t mode) = nullptr;
  bool (*GetFileInfo)(const std::string& name, TMMFileInfo& info) = nullptr;
  // Open-dialog filter: description and pattern fields separated by "|".
  std::string (*GetFilter)() = nullptr;
  // Patterns such as "*.wav".
  std::string (*GetExtensions)() = nullptr;
  std::unique_ptr<TMMCustomFile> (*Create)(TComponent* owner) = nullptr;
};

template <class T>
TMMFileClass FileClassOf(std::string name) {
  return {std::move(name),
          &T::ClassFileType,
          &T::CanLoad,
          &T::GetFileInfo,
          &T::GetFilter,
          &T::GetExtensions,
          [](TComponent* owner) -> std::unique_ptr<TMMCustomFile> {
            return std::make_unique<T>(owner);
          }};
}

// The file classes a player tries, in ascending priority; classes of equal priority
// keep the order they came in.
//
// Threads: any; the list is guarded by its lock and handed out as a copy.
class TMMFileRegistry {
 public:
  // Ignored when a class of that name is present.
  void Register(const TMMFileClass& fileClass, uint32_t priority);
  std::vector<TMMFileClass> Classes() const;
  // The first class of that kind; false when none.
  bool Find(TMMAudioFileType type, TMMFileClass& found) const;
  // Every class's filter joined by "|", led by an "All Audio Files" entry when asked
  // for and more than one class gave a filter.
  std::string Filter(bool withAllEntry) const;

 private:
  struct Entry {
    TMMFileClass FileClass;
    uint32_t Priority;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// The program's registry, which holds the library's WAV and MPEG classes from its
// first use on.
TMMFileRegistry& FileRegistry();

void RegisterFileClass(const TMMFileClass& fileClass, uint32_t priority);
bool FindFileClass(TMMAudioFileType type, TMMFileClass& found);
std::string GetAudioFileFilter(bool withAllEntry);
// The pattern fields of a filter joined by ";", each once.
std::string GetFilterExtensions(const std::string& filter);

// The extension of name is absent or one of the patterns ("*.mp2;*.mp3"), compared
// case-insensitively.
bool ExtensionAdmitted(const std::string& name, const std::string& patterns);

// A name that may lead to audio data: an existing regular file, or a memory or
// resource source ("RESOURCE://", "POINTER://", in any case).
bool NamesAudioSource(const std::string& name);

}  // namespace pmx
