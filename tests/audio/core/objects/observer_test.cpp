#include "audio/core/objects/observer.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/core/objects/class_registry.h"
#include "audio/core/objects/object_list.h"

namespace pmx {
namespace {

TEST(Observer, NotifiesLastAddedFirstUnlessMuted) {
  TMMObservable observable;
  TMMObserver a, b;
  std::vector<TMMObserver*> order;
  int user = 7;
  int payload = 42;
  for (TMMObserver* o : {&a, &b}) {
    o->SetUserData(&user);
    o->OnNotify = [&](void* user_data, TMMObserver* sender, void* data) {
      EXPECT_EQ(user_data, &user);
      EXPECT_EQ(data, &payload);
      order.push_back(sender);
    };
    observable.AddObserver(o);
  }
  observable.Notify(&payload);
  EXPECT_EQ(order, (std::vector<TMMObserver*>{&b, &a}));
  order.clear();
  b.SetMuted(true);
  observable.Notify(&payload);
  EXPECT_EQ(order, (std::vector<TMMObserver*>{&a}));
  observable.SetMuted(true);
  observable.Notify(&payload);
  EXPECT_EQ(order.size(), 1u);
}

TEST(Observer, AddingMovesAnObserverAndEitherSideMayGoFirst) {
  auto first = std::make_unique<TMMObservable>();
  TMMObservable second;
  auto observer = std::make_unique<TMMObserver>();
  first->AddObserver(observer.get());
  second.AddObserver(observer.get());
  EXPECT_EQ(observer->Observable(), &second);
  EXPECT_EQ(first->ObserverCount(), 0);
  first->RemoveObserver(observer.get());  // not its observer: nothing happens
  EXPECT_EQ(second.ObserverCount(), 1);
  observer.reset();
  EXPECT_EQ(second.ObserverCount(), 0);

  TMMObserver survivor;
  first->AddObserver(&survivor);
  first.reset();
  EXPECT_EQ(survivor.Observable(), nullptr);
}

TEST(Observer, AnObserverMayLeaveWhileBeingNotified) {
  TMMObservable observable;
  TMMObserver a, b, c;
  int calls = 0;
  for (TMMObserver* o : {&a, &b, &c}) {
    o->OnNotify = [&](void*, TMMObserver*, void*) { ++calls; };
    observable.AddObserver(o);
  }
  c.OnNotify = [&](void*, TMMObserver*, void*) {
    ++calls;
    observable.RemoveObserver(&c);
    observable.RemoveObserver(&b);
  };
  observable.Notify(nullptr);
  EXPECT_EQ(calls, 2);  // c, then a; b had left
  EXPECT_EQ(observable.ObserverCount(), 1);
}

struct Point : TObject {
  explicit Point(int v = 0) : value(v) {}
  int value;
};

class PositiveList : public TMMObjectList {
 protected:
  bool Keep(const TObject* item) const override {
    return item && static_cast<const Point*>(item)->value > 0;
  }
};

TEST(ObjectList, DeletionIsAnnouncedOnceAndBadIndexesRaise) {
  PositiveList list;
  for (int v : {1, -2, 3, 0, 5}) list.Add(std::make_unique<Point>(v));
  int changing = 0, changed = 0;
  list.OnChanging = [&](TObject*) { ++changing; };
  list.OnChange = [&](TObject*) { ++changed; };
  std::unique_ptr<TObject> taken = list.Delete(1);
  EXPECT_EQ(static_cast<Point*>(taken.get())->value, -2);
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(static_cast<Point*>(list.Items(1))->value, 3);
  EXPECT_THROW(list.Delete(4), EListError);
  EXPECT_THROW(list.Items(-1), EListError);
  EXPECT_EQ(list.Count(), 4);
  list.Pack();
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(static_cast<Point*>(list.Items(2))->value, 5);
}

TEST(ClassRegistry, TheFirstRegistrationOfAClassStands) {
  RegisterClassIO([](std::istream& in, TObject& o) { in >> static_cast<Point&>(o).value; },
                  [](std::ostream& out, const TObject& o) {
                    out << static_cast<const Point&>(o).value;
                  },
                  "TRegistryTestPoint");
  RegisterClassIO(nullptr, nullptr, "TRegistryTestPoint");
  const TRegisterRec* rec = FindClassIO("TRegistryTestPoint");
  ASSERT_NE(rec, nullptr);
  ASSERT_TRUE(rec->load);
  std::stringstream stream("17");
  Point p;
  rec->load(stream, p);
  EXPECT_EQ(p.value, 17);
  EXPECT_EQ(FindClassIO("TNeverRegistered"), nullptr);
}

}  // namespace
}  // namespace pmx
