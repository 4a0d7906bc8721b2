// The stand-in's unsecured apartment: its object stubs forward the
// service's calls to the object they were made for.
#include "platform/posix/com/com_object.h"
#include "platform/posix/com/wmi_objects.h"

namespace platform::posix {
namespace {

// Holds a reference to the sink it forwards to until its own last release.
class ObjectStub final : public ComObject<IWbemObjectSink, kIidIWbemObjectSink> {
 public:
  explicit ObjectStub(IWbemObjectSink* sink) : mSink(sink) {}

  HRESULT STDMETHODCALLTYPE Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) override {
    return mSink->Indicate(lObjectCount, apObjArray);
  }
  HRESULT STDMETHODCALLTYPE SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                                      IWbemClassObject* pObjParam) override {
    return mSink->SetStatus(lFlags, hResult, strParam, pObjParam);
  }

 private:
  ~ObjectStub() override { mSink->Release(); }
  IWbemObjectSink* const mSink;
};

class UnsecuredApartment final : public ComObject<IUnsecuredApartment, kIidIUnsecuredApartment> {
 public:
  HRESULT STDMETHODCALLTYPE CreateObjectStub(IUnknown* pObject, IUnknown** ppStub) override {
    if (pObject == nullptr || ppStub == nullptr) return kEPointer;
    *ppStub = nullptr;
    void* sink = nullptr;
    const HRESULT asked = pObject->QueryInterface(kIidIWbemObjectSink, &sink);
    if (Failed(asked)) return asked;
    *ppStub = new ObjectStub(static_cast<IWbemObjectSink*>(sink));
    return kSOk;
  }
};

}  // namespace

IUnsecuredApartment* NewUnsecuredApartment() { return new UnsecuredApartment(); }

}  // namespace platform::posix
