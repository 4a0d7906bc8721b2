// The table behind the process services' handles on Linux: handle values
// are small numbers, as on Windows, each standing for an object.
#pragma once

#include <errno.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/process.h"

namespace platform::posix {

// What a handle stands for. Destroyed when its handle is closed and no call
// that uses it is still running.
class HandleObject {
 public:
  virtual ~HandleObject() = default;
};

// Handle values are never reused, so that a stale handle finds nothing
// instead of another object. Every method may be called from any thread.
class HandleTable {
 public:
  Handle Add(std::shared_ptr<HandleObject> object) {
    std::lock_guard<std::mutex> lock(mMutex);
    mLast += 4;
    mObjects.emplace(mLast, std::move(object));
    return reinterpret_cast<Handle>(mLast);
  }

  // The object of type T behind the handle; null, with errno EBADF, when
  // there is none.
  template <class T>
  std::shared_ptr<T> Find(Handle handle) {
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mObjects.find(reinterpret_cast<std::uintptr_t>(handle));
    std::shared_ptr<T> object = found == mObjects.end() ? nullptr : std::dynamic_pointer_cast<T>(found->second);
    if (object == nullptr) errno = EBADF;
    return object;
  }

  // True when an object of type T in the table satisfies the predicate.
  template <class T, class Predicate>
  bool Any(Predicate predicate) {
    std::lock_guard<std::mutex> lock(mMutex);
    return std::any_of(mObjects.begin(), mObjects.end(), [&predicate](const auto& entry) {
      const T* object = dynamic_cast<const T*>(entry.second.get());
      return object != nullptr && predicate(*object);
    });
  }

  // Ends the handle; its object goes once no call uses it any more. errno
  // EBADF for an unknown handle.
  void Remove(Handle handle) {
    std::shared_ptr<HandleObject> object;  // released after the lock
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mObjects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == mObjects.end()) {
      errno = EBADF;
      return;
    }
    object = std::move(found->second);
    mObjects.erase(found);
  }

 private:
  std::mutex mMutex;
  std::uintptr_t mLast = 0;
  std::map<std::uintptr_t, std::shared_ptr<HandleObject>> mObjects;
};

}  // namespace platform::posix
