#pragma once

#include <memory>
#include <vector>

#include "audio/core/objects/objects.h"
#include "audio/core/objects/record_list.h"

namespace pmx {

// A list of owned objects that announces every change through TMMObject's
// notifications. Single-threaded.
class TMMObjectList : public TMMObject {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // The item at index; EListError outside 0 .. Count() - 1.
  TObject* Items(int index) const;
  // Appends item and returns its index.
  int Add(std::unique_ptr<TObject> item);
  // Takes the item at index out, moving the later ones down, and hands it back.
  std::unique_ptr<TObject> Delete(int index);
  // Takes the item at index out and frees it.
  void FreeAndDelete(int index) { Delete(index); }
  // Frees every item that Keep rejects, from the last index down.
  void Pack();

 protected:
  // The pack test; by default an item is kept when there is one.
  virtual bool Keep(const TObject* item) const { return item != nullptr; }

 private:
  void CheckIndex(int index) const;

  std::vector<std::unique_ptr<TObject>> items_;
};

}  // namespace pmx
