// Reference counting and interface queries shared by the COM objects of the
// Linux stand-in: one interface each, freed when the last reference goes.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace platform::posix {

// Starts with one reference, the creator's. AddRef and Release are atomic;
// any thread may call them. QueryInterface answers IUnknown and `iid`.
template <class Interface, const IID& iid>
class ComObject : public Interface {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return kEPointer;
    if (SameGuid(riid, kIidIUnknown) || SameGuid(riid, iid)) {
      *ppvObject = static_cast<Interface*>(this);
      AddRef();
      return kSOk;
    }
    *ppvObject = nullptr;
    return kENoInterface;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++mRefCount; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --mRefCount;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> mRefCount{1};
};

}  // namespace platform::posix
