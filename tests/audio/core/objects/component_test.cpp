#include "audio/core/objects/component.h"

#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "audio/core/objects/objects.h"

namespace pmx {
namespace {

// Holds a reference to another component and drops it when that one goes away.
class Holder : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
  void Hold(TComponent* other) {
    other_ = other;
    FreeNotification(other);
  }
  TComponent* other_ = nullptr;
  int inserts = 0;
  int removes = 0;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    if (operation == TOperation::opInsert) ++inserts;
    if (operation == TOperation::opRemove) ++removes;
    if (operation == TOperation::opRemove && component == other_) other_ = nullptr;
  }
};

TEST(Component, DestroyedPartnerIsForgottenOnBothSides) {
  Holder holder;
  {
    TMMComponent held;
    holder.Hold(&held);
    EXPECT_EQ(holder.other_, &held);
  }
  EXPECT_EQ(holder.other_, nullptr);
  // The holder going away later must not touch the dead partner (asan watches).
}

TEST(Component, HolderGoingFirstLeavesThePartnerClean) {
  std::optional<Holder> slot;
  {
    Holder held;
    slot.emplace();
    slot->Hold(&held);
    held.other_ = &*slot;
    slot.reset();
    EXPECT_EQ(held.other_, nullptr);
    // A live component now sits where the holder was: a partner that kept the
    // holder's address would notify it when going.
    slot.emplace();
  }
  EXPECT_EQ(slot->removes, 0);
}

TEST(Component, OwnerSeesItsComponentsComeAndGo) {
  Holder owner;
  {
    TMMComponent a(&owner);
    auto b = std::make_unique<TMMComponent>(&owner);
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.inserts, 2);
    EXPECT_EQ(a.Owner(), &owner);
  }
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, DesignModeReachesOwnedComponents) {
  TMMComponent owner;
  TMMNonVisualComponent child(&owner);
  owner.SetDesignMode(true);
  EXPECT_TRUE(owner.Designing());
  EXPECT_TRUE(child.Designing());
}

TEST(Component, LoadedRunsOnceWhenLoadingEnds) {
  struct Counting : TComponent {
    int loaded = 0;
    void Loaded() override { ++loaded; }
  } c;
  c.BeginLoading();
  EXPECT_TRUE(c.Loading());
  c.EndLoading();
  c.EndLoading();
  EXPECT_EQ(c.loaded, 1);
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

TEST(MMObject, ABatchEndsWithOneChange) {
  TMMObject o;
  int changing = 0, changed = 0;
  o.OnChanging = [&](TObject*) { ++changing; };
  o.OnChange = [&](TObject*) { ++changed; };
  o.BeginUpdate();
  o.Changed(true);
  o.Changed();
  o.Changed(true);
  o.Changed();
  o.EndUpdate();
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  o.Changed();
  EXPECT_EQ(changed, 2);
}

}  // namespace
}  // namespace pmx
