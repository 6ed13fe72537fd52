#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

#include "audio/core/objects/objects.h"
#include "platform/exception.h"

namespace pmx {

// A stream ended before a record was complete.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// A position/value pair of an envelope, streamed as 9 little-endian bytes:
// position (4), value (4), flags (1).
class TMMEnvelopePoint : public TObject {
 public:
  static constexpr int kStreamSize = 9;

  TMMEnvelopePoint() = default;
  TMMEnvelopePoint(int32_t position, int32_t value, uint8_t flags = 0)
      : position_(position), value_(value), flags_(flags) {}

  int32_t Position() const { return position_; }
  void SetPosition(int32_t v) { position_ = v; }
  int32_t Value() const { return value_; }
  void SetValue(int32_t v) { value_ = v; }
  uint8_t Flags() const { return flags_; }

  void Assign(const TMMEnvelopePoint& source) { *this = source; }
  virtual void WriteToStream(std::ostream& stream) const;
  // Raises EReadError when fewer than 9 bytes are left; the point is then unchanged.
  virtual void ReadFromStream(std::istream& stream);

 private:
  int32_t position_ = 0;
  int32_t value_ = 0;
  uint8_t flags_ = 0;
};

// The point list of an envelope: points in ascending position, a default level,
// and change notification through the update bracket. GUI-thread object.
class TMMEnvelope : public TMMObject {
 public:
  int Count() const { return static_cast<int>(points_.size()); }
  // 0 <= index < Count(), else EListError.
  TMMEnvelopePoint& Points(int index);
  const TMMEnvelopePoint& Points(int index) const;
  void Add(const TMMEnvelopePoint& point) { points_.push_back(point); }
  // 0 <= index <= Count(), else EListError.
  void Insert(int index, const TMMEnvelopePoint& point);
  void Delete(int index);

  int32_t DefaultLevel() const { return default_level_; }
  void SetDefaultLevel(int32_t v) { default_level_ = v; }

 private:
  void CheckIndex(int index, int limit) const;

  std::vector<TMMEnvelopePoint> points_;
  int32_t default_level_ = 0;
};

// As for fade lists: -1 for no points, Count() at or after the last point, else
// the first point after position.
int IndexAfter(const TMMEnvelope& envelope, int64_t position);
// True for at most one point; else only strictly inside the first and last
// positions and on no point's position.
bool CanInsertPoint(const TMMEnvelope& envelope, const TMMEnvelopePoint& point);
// Inserts a copy in position order; with interpolate its value lies on the line
// between its two neighbours. False, and nothing inserted, when it cannot go in.
bool InsertPoint(TMMEnvelope& envelope, const TMMEnvelopePoint& point, bool interpolate);
// Keeps only the first and the last point, each at the default level; one change.
void ResetEnvelope(TMMEnvelope& envelope);

}  // namespace pmx
