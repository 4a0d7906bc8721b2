// The stand-in's locator and its class factory: a locator connects to
// "ROOT\CIMV2" only; the unsecured apartment lives in wmi_apartment.cpp.
#include "common/ascii_case.h"
#include "platform/posix/com/com_object.h"
#include "platform/posix/com/wmi_objects.h"

namespace platform::posix {

IUnsecuredApartment* NewUnsecuredApartment();  // wmi_apartment.cpp

namespace {

class Locator final : public ComObject<IWbemLocator, kIidIWbemLocator> {
 public:
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR, const BSTR, LONG,
                                          const BSTR, IWbemContext*, IWbemServices** ppNamespace) override {
    if (ppNamespace == nullptr) return kWbemEInvalidParameter;
    *ppNamespace = nullptr;
    if (!common::EqualsIgnoringAsciiCase(BstrText(strNetworkResource), u"ROOT\\CIMV2")) return kWbemEInvalidNamespace;
    *ppNamespace = NewManagementServices();
    return kWbemSNoError;
  }
};

}  // namespace

HRESULT CreateManagementObject(REFCLSID clsid, REFIID iid, void** object) {
  IUnknown* created = nullptr;
  if (SameGuid(clsid, kClsidWbemAdministrativeLocator)) {
    created = new Locator();
  } else if (SameGuid(clsid, kClsidUnsecuredApartment)) {
    created = NewUnsecuredApartment();
  } else {
    return kRegdbEClassNotReg;
  }
  const HRESULT result = created->QueryInterface(iid, object);
  created->Release();
  return result;
}

}  // namespace platform::posix
