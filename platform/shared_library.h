#pragma once

#include <string>

// A library loaded at run time and unloaded with its owner. Loading and symbol
// lookup are safe from any thread; the owner decides who keeps it alive.

namespace pmx {

class SharedLibrary {
 public:
  explicit SharedLibrary(const std::string& name);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // The symbol as a pointer to the function type F of the library's header
  // (none when missing), e.g. Bind<decltype(gsm_create)>("gsm_create").
  template <typename F>
  F* Bind(const char* name) const {
    return reinterpret_cast<F*>(Symbol(name));
  }

 private:
  void* Symbol(const char* name) const;

  void* handle_ = nullptr;
};

}  // namespace pmx
