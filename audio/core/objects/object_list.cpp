#include "audio/core/objects/object_list.h"

namespace pmx {

void TMMObjectList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
}

TObject* TMMObjectList::Items(int index) const {
  CheckIndex(index);
  return items_[index].get();
}

int TMMObjectList::Add(std::unique_ptr<TObject> item) {
  Changing();
  items_.push_back(std::move(item));
  Changed();
  return Count() - 1;
}

std::unique_ptr<TObject> TMMObjectList::Delete(int index) {
  CheckIndex(index);
  Changing();
  std::unique_ptr<TObject> item = std::move(items_[index]);
  items_.erase(items_.begin() + index);
  Changed();
  return item;
}

void TMMObjectList::Pack() {
  for (int i = Count() - 1; i >= 0; --i) {
    if (!Keep(items_[i].get())) FreeAndDelete(i);
  }
}

}  // namespace pmx
