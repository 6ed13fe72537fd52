#include "audio/core/objects/component.h"

#include <algorithm>

namespace pmx {
namespace {

void Erase(std::vector<TComponent*>& list, TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Partners drop their references to us before we go.
  const std::vector<TComponent*> partners = notified_;
  for (TComponent* partner : partners) {
    partner->RemoveFreeNotification(this);
    partner->Notification(this, TOperation::opRemove);
  }
  for (TComponent* component : components_) component->owner_ = nullptr;
  if (owner_) owner_->Remove(this);
}

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  Notification(component, TOperation::opInsert);
}

void TComponent::Remove(TComponent* component) {
  Erase(components_, component);
  Notification(component, TOperation::opRemove);
}

void TComponent::EndLoading() {
  if (!loading_) return;
  loading_ = false;
  Loaded();
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(notified_.begin(), notified_.end(), other) == notified_.end()) {
    notified_.push_back(other);
    other->notified_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  Erase(notified_, other);
  if (other) Erase(other->notified_, this);
}

}  // namespace pmx
