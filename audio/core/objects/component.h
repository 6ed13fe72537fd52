#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pmx {

// Common root of the library's objects, so that events can name their sender.
class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

enum class TOperation { opInsert, opRemove };

// The component model the library's classes build on: an owner that knows its
// components, a name, the loading/designing/destroying state and free notification.
// Owning the memory is the holder's business (unique_ptr members of a form); the
// owner link only tells and propagates. GUI-thread objects.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }

  // Where a design-time host shows a non-visual component: x in the low 16 bits,
  // y in the high 16 bits.
  int32_t DesignInfo() const { return design_info_; }
  void SetDesignInfo(int32_t value) { design_info_ = value; }

  bool Loading() const { return loading_; }
  bool Designing() const { return designing_; }
  bool Destroying() const { return destroying_; }
  // Properties set while loading may be applied in Loaded.
  void BeginLoading() { loading_ = true; }
  void EndLoading();

  // other receives Notification(this, opRemove) when this component goes away.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  virtual void Notification(TComponent* component, TOperation operation) {}
  virtual void Loaded() {}
  void SetDesigning(bool designing) { designing_ = designing; }
  // Derived destructors that tear down links call this first, so that partners
  // see the component as going away.
  void MarkDestroying() { destroying_ = true; }

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> notified_;  // partners told of our removal, both ways
  int32_t design_info_ = 0;
  bool loading_ = false;
  bool designing_ = false;
  bool destroying_ = false;
};

}  // namespace pmx
