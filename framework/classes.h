// Base classes of the framework: objects, components with an owner, events.
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

// An event handler with the sender as its only argument.
using TNotifyEvent = std::function<void(TObject* sender)>;

// A component belongs to its owner: the owner destroys the components it owns
// (the last made first) when it is destroyed, and a component destroyed
// earlier leaves its owner's list.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner) : mOwner(owner) {
    if (owner != nullptr) owner->mComponents.push_back(this);
  }
  ~TComponent() override {
    DestroyComponents();
    if (mOwner != nullptr) {
      auto& siblings = mOwner->mComponents;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
  }

  TComponent* Owner() const { return mOwner; }
  // The owned components in the order they were made.
  const std::vector<TComponent*>& Components() const { return mComponents; }

 protected:
  // Derived classes whose components refer to their members call this first
  // in their own destructor.
  void DestroyComponents() {
    while (!mComponents.empty()) delete mComponents.back();
  }

 private:
  TComponent* mOwner;
  std::vector<TComponent*> mComponents;
};
