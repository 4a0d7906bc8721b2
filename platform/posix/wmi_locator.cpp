// The stand-in's locator and its class factory: a locator connects to
// "ROOT\CIMV2" only; the unsecured apartment lives in wmi_apartment.cpp.
#include <cctype>

#include "platform/posix/com_object.h"
#include "platform/posix/wmi_objects.h"

namespace platform::posix {

IUnsecuredApartment* NewUnsecuredApartment();  // wmi_apartment.cpp

namespace {


bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = a[i] < 128 ? static_cast<char16_t>(std::tolower(a[i])) : a[i];
    const char16_t y = b[i] < 128 ? static_cast<char16_t>(std::tolower(b[i])) : b[i];
    if (x != y) return false;
  }
  return true;
}

class Locator final : public ComObject<IWbemLocator, kIidIWbemLocator> {
 public:
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR, const BSTR, LONG,
                                          const BSTR, IWbemContext*, IWbemServices** ppNamespace) override {
    if (ppNamespace == nullptr) return kWbemEInvalidParameter;
    *ppNamespace = nullptr;
    if (!SameTextIgnoringCase(BstrText(strNetworkResource), u"ROOT\\CIMV2")) return kWbemEInvalidNamespace;
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
