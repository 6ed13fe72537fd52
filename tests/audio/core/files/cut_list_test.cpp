#include "audio/core/files/cut_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "audio/core/dsp/envelope.h"
#include "audio/core/dsp/fade_list.h"
#include "audio/core/objects/class_registry.h"

namespace pmx {
namespace {

std::vector<int64_t> Starts(const TMMCutList& list) {
  std::vector<int64_t> starts;
  for (int i = 0; i < list.Count(); ++i) starts.push_back(list.GetItem(i).Start);
  return starts;
}

TEST(TMMCutList, AddCutKeepsRegionsApartAndInOrder) {
  TMMCutList list;
  int changes = 0;
  list.OnChange = [&](TObject*) { ++changes; };
  EXPECT_TRUE(list.AddCut({100, 0, 50, 0}));
  EXPECT_TRUE(list.AddCut({10, 0, 20, 0}));
  EXPECT_TRUE(list.AddCut({400, 0, 1, 0}));
  EXPECT_TRUE(list.AddCut({150, 0, 10, 0})) << "right after the end of a cut";
  EXPECT_EQ(Starts(list), (std::vector<int64_t>{10, 100, 150, 400}));
  EXPECT_EQ(changes, 4);
  EXPECT_FALSE(list.AddCut({149, 0, 5, 0}));
  EXPECT_FALSE(list.AddCut({10, 0, 5, 0}));
  EXPECT_EQ(Starts(list), (std::vector<int64_t>{10, 100, 150, 400}));
  EXPECT_EQ(changes, 4) << "a refused cut changes nothing";

  EXPECT_EQ(list.FindCut(9), -1);
  EXPECT_EQ(list.FindCut(29), 0);
  EXPECT_EQ(list.FindCut(30), -1);
  EXPECT_EQ(list.FindCut(400), 3);
  EXPECT_TRUE(list.IsFree(401));
  EXPECT_TRUE(TMMCutList().IsFree(0));
}

TEST(TMMCutList, InsertClearAssignAndErrors) {
  TMMCutList list;
  int changes = 0;
  list.OnChange = [&](TObject*) { ++changes; };
  list.Insert(0, {5, 0, 1, 0});
  list.Insert(1, {9, 0, 1, 0});
  list.Insert(0, {1, 0, 1, 0});
  EXPECT_EQ(Starts(list), (std::vector<int64_t>{1, 5, 9}));
  EXPECT_THROW(list.Insert(4, {}), EListError);
  EXPECT_THROW(list.GetItem(-1), EListError);
  EXPECT_EQ(changes, 3);

  TMMCutList copy;
  int copy_changes = 0;
  copy.OnChange = [&](TObject*) { ++copy_changes; };
  copy.Add({77, 0, 1, 0});
  copy_changes = 0;
  copy.Assign(&list);
  EXPECT_EQ(Starts(copy), Starts(list));
  EXPECT_EQ(copy_changes, 1) << "one notification for the whole assignment";
  list.Clear();
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(TMMEnvelopePoint, StreamsNineLittleEndianBytes) {
  std::stringstream stream;
  TMMEnvelopePoint(0x01020304, -2, 7).WriteToStream(stream);
  EXPECT_EQ(stream.str(), std::string("\x04\x03\x02\x01\xFE\xFF\xFF\xFF\x07", 9));
  TMMEnvelopePoint read;
  read.ReadFromStream(stream);
  EXPECT_EQ(read.Position(), 0x01020304);
  EXPECT_EQ(read.Value(), -2);
  EXPECT_EQ(read.Flags(), 7);

  const TRegisterRec* record = FindClassIO("TMMEnvelopePoint");
  ASSERT_NE(record, nullptr);
  std::stringstream registered;
  record->store(registered, TMMEnvelopePoint(5, 6, 1));
  TMMEnvelopePoint loaded;
  record->load(registered, loaded);
  EXPECT_EQ(loaded.Value(), 6);

  std::stringstream short_stream(std::string("\x01\x02\x03\x04\x05", 5));
  EXPECT_THROW(read.ReadFromStream(short_stream), EReadError);
  EXPECT_EQ(read.Position(), 0x01020304) << "unchanged by a failed read";
}

TEST(Envelope, InsertResetAndExchangeWithFadeLists) {
  TMMEnvelope envelope;
  EXPECT_TRUE(InsertPoint(envelope, {100, 0}, true));
  EXPECT_TRUE(InsertPoint(envelope, {0, 1000}, true)) << "a single point takes anything";
  ASSERT_EQ(envelope.Count(), 2);
  EXPECT_EQ(envelope.Points(0).Position(), 0);
  envelope.Add({300, 3000});
  EXPECT_TRUE(InsertPoint(envelope, {50, 9999}, true));
  EXPECT_EQ(envelope.Points(1).Value(), 500) << "halfway between its neighbours";
  EXPECT_TRUE(InsertPoint(envelope, {200, 42}, false));
  EXPECT_EQ(envelope.Points(3).Value(), 42);
  EXPECT_FALSE(InsertPoint(envelope, {200, 1}, false));
  EXPECT_FALSE(InsertPoint(envelope, {300, 1}, false));
  EXPECT_FALSE(InsertPoint(envelope, {-5, 1}, false));
  EXPECT_EQ(envelope.Count(), 5);

  TMMFadeList fades;
  fades.AssignFromEnvelope(envelope);
  ASSERT_EQ(fades.Count(), 5);
  EXPECT_EQ(fades.GetItem(3).Position, 200);
  EXPECT_EQ(fades.GetItem(3).Volume, 42);

  int changes = 0;
  envelope.OnChange = [&](TObject*) { ++changes; };
  envelope.SetDefaultLevel(16384);
  ResetEnvelope(envelope);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(envelope.Count(), 2);
  EXPECT_EQ(envelope.Points(1).Position(), 300);
  EXPECT_EQ(envelope.Points(1).Value(), 16384);

  fades.AssignToEnvelope(envelope);
  ASSERT_EQ(envelope.Count(), 5);
  EXPECT_EQ(envelope.Points(0).Value(), 16384) << "the fade point on the first one is refused";
  EXPECT_EQ(envelope.Points(1).Value(), 500) << "inserted as given, not interpolated";
  EXPECT_EQ(envelope.Points(4).Value(), 16384) << "the end points keep the default level";
}

}  // namespace
}  // namespace pmx
