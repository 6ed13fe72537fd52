#include "audio/core/files/cut_list.h"

namespace pmx {

int TMMCutList::FindCut(int64_t position) const {
  const int before = IndexAfter(position) - 1;
  if (before < 0) return -1;
  const TMMCut& cut = GetItem(before);
  return position >= cut.Start && position <= cut.Start + cut.Length - 1 ? before : -1;
}

bool TMMCutList::AddCut(const TMMCut& cut) {
  if (FindCut(cut.Start) != -1) return false;
  const int index = IndexAfter(cut.Start);
  if (index >= 0 && index < Count()) {
    Insert(index, cut);
  } else {
    Add(cut);
  }
  return true;
}

void TMMCutList::Assign(const TMMCutList* source) {
  if (source == this) return;
  BeginUpdate();
  Clear();
  if (source != nullptr) {
    for (int i = 0; i < source->Count(); ++i) Add(source->GetItem(i));
  }
  EndUpdate();
}

}  // namespace pmx
