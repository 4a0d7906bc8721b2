// Base classes of the framework: objects, components with an owner, events.
#pragma once

#include <functional>

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

// An event handler with the sender as its only argument.
using TNotifyEvent = std::function<void(TObject* sender)>;

// A component belongs to its owner, which may destroy it.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner) : mOwner(owner) {}
  TComponent* Owner() const { return mOwner; }

 private:
  TComponent* mOwner;
};
