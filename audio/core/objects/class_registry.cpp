#include "audio/core/objects/class_registry.h"

#include <map>
#include <mutex>

namespace pmx {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, TRegisterRec> records;  // sorted by class name
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterClassIO(std::function<void(std::istream&, TObject&)> load,
                     std::function<void(std::ostream&, const TObject&)> store,
                     const std::string& class_name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.records.try_emplace(class_name,
                               TRegisterRec{class_name, std::move(load), std::move(store)});
}

const TRegisterRec* FindClassIO(const std::string& class_name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.records.find(class_name);
  return it == registry.records.end() ? nullptr : &it->second;
}

}  // namespace pmx
