#include "audio/core/envelope.h"

#include <array>

#include "audio/core/class_registry.h"
#include "audio/core/record_list.h"
#include "platform/byte_order.h"

namespace pmx {

namespace {

// Envelope points are streamed by class name.
[[maybe_unused]] const bool kRegistered = [] {
  RegisterClassIO([](std::istream& in,
                     TObject& point) { dynamic_cast<TMMEnvelopePoint&>(point).ReadFromStream(in); },
                  [](std::ostream& out, const TObject& point) {
                    dynamic_cast<const TMMEnvelopePoint&>(point).WriteToStream(out);
                  },
                  "TMMEnvelopePoint");
  return true;
}();

}  // namespace

void TMMEnvelopePoint::WriteToStream(std::ostream& stream) const {
  std::array<uint8_t, kStreamSize> bytes;
  StoreLE32(&bytes[0], position_);
  StoreLE32(&bytes[4], value_);
  bytes[8] = flags_;
  stream.write(reinterpret_cast<const char*>(bytes.data()), kStreamSize);
}

void TMMEnvelopePoint::ReadFromStream(std::istream& stream) {
  std::array<uint8_t, kStreamSize> bytes;
  stream.read(reinterpret_cast<char*>(bytes.data()), kStreamSize);
  if (stream.gcount() != kStreamSize) throw EReadError("Stream read error");
  position_ = LoadLES32(&bytes[0]);
  value_ = LoadLES32(&bytes[4]);
  flags_ = bytes[8];
}

void TMMEnvelope::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) ListIndexError(index);
}

TMMEnvelopePoint& TMMEnvelope::Points(int index) {
  CheckIndex(index, Count());
  return points_[index];
}

const TMMEnvelopePoint& TMMEnvelope::Points(int index) const {
  CheckIndex(index, Count());
  return points_[index];
}

void TMMEnvelope::Insert(int index, const TMMEnvelopePoint& point) {
  CheckIndex(index, Count() + 1);
  points_.insert(points_.begin() + index, point);
}

void TMMEnvelope::Delete(int index) {
  CheckIndex(index, Count());
  points_.erase(points_.begin() + index);
}

int IndexAfter(const TMMEnvelope& envelope, int64_t position) {
  return IndexAfterKey(envelope.Count(), position,
                       [&](int i) { return envelope.Points(i).Position(); });
}

bool CanInsertPoint(const TMMEnvelope& envelope, const TMMEnvelopePoint& point) {
  const int count = envelope.Count();
  if (count <= 1) return true;
  const int32_t at = point.Position();
  if (at <= envelope.Points(0).Position() || at >= envelope.Points(count - 1).Position()) {
    return false;
  }
  for (int i = 1; i < count - 1; ++i) {
    if (envelope.Points(i).Position() == at) return false;
  }
  return true;
}

bool InsertPoint(TMMEnvelope& envelope, const TMMEnvelopePoint& point, bool interpolate) {
  if (!CanInsertPoint(envelope, point)) return false;
  const int index = IndexAfter(envelope, point.Position());
  if (index < 0 || index >= envelope.Count()) {
    envelope.Add(point);
    return true;
  }
  TMMEnvelopePoint copy = point;
  if (interpolate && index > 0) {
    const TMMEnvelopePoint& before = envelope.Points(index - 1);
    const TMMEnvelopePoint& after = envelope.Points(index);
    copy.SetValue(InterpolateLinear(before.Position(), before.Value(), after.Position(),
                                    after.Value(), point.Position()));
  }
  envelope.Insert(index, copy);
  return true;
}

void ResetEnvelope(TMMEnvelope& envelope) {
  envelope.BeginUpdate();
  while (envelope.Count() > 2) envelope.Delete(1);
  for (int i = 0; i < envelope.Count(); ++i) {
    envelope.Points(i).SetValue(envelope.DefaultLevel());
  }
  envelope.EndUpdate();
}

}  // namespace pmx
