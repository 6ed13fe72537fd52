#pragma once

#include <cstdint>

#include "audio/core/objects/record_list.h"

namespace pmx {

// A region: its start and length in one unit, and the same region in a second
// unit (a wave object keeps samples and bytes side by side).
struct TMMCut {
  int64_t Start = 0;
  int64_t StartBytes = 0;
  int64_t Length = 0;
  int64_t LengthBytes = 0;
};

// Non-overlapping regions sorted by start. OnChange fires after each add, insert
// and clear. Single-threaded: its owner serialises access.
class TMMCutList : public TMMRecordList<TMMCut, &TMMCut::Start, true> {
 public:
  using TMMRecordList::Insert;

  // The cut whose Start..Start + Length - 1 holds position, else -1.
  int FindCut(int64_t position) const;
  bool IsFree(int64_t position) const { return FindCut(position) == -1; }
  // False, leaving the list as it is, when cut starts inside an existing cut;
  // else inserted in order of start.
  bool AddCut(const TMMCut& cut);
  // Copies the records of source (Clear for none) with one change notification;
  // assigning itself does nothing.
  void Assign(const TMMCutList* source);
};

}  // namespace pmx
