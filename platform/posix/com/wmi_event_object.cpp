// The stand-in's event objects: one process start or stop, read by property name.
#include <string>

#include "common/ascii_case.h"
#include "platform/posix/com/com_object.h"
#include "platform/posix/com/wmi_objects.h"
#include "platform/text.h"

namespace platform::posix {
namespace {

constexpr CIMTYPE kCimString = 8;
constexpr CIMTYPE kCimUint32 = 19;

// Property names compare without regard to ASCII case, as the service does.
bool IsName(const OLECHAR* name, std::u16string_view wanted) {
  return common::EqualsIgnoringAsciiCase(BstrText(name), wanted);
}

class ProcessEventObject final : public ComObject<IWbemClassObject, kIidIWbemClassObject> {
 public:
  explicit ProcessEventObject(const ProcessEvent& event) : mEvent(event) {}

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return kWbemENotSupported; }

  // The ids come as VT_I4, as the service gives its 32-bit unsigned
  // properties; the name as VT_BSTR. pVal is overwritten, not cleared.
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) override {
    if (wszName == nullptr) return kWbemEInvalidParameter;
    VARIANT value{};
    CIMTYPE type = kCimUint32;
    if (IsName(wszName, u"ProcessId")) {
      value.vt = kVtI4;
      value.lVal = static_cast<std::int32_t>(mEvent.ProcessId);
    } else if (IsName(wszName, u"ParentProcessId")) {
      value.vt = kVtI4;
      value.lVal = static_cast<std::int32_t>(mEvent.ParentProcessId);
    } else if (IsName(wszName, u"ProcessName")) {
      value.vt = kVtBstr;
      value.bstrVal = AllocBstr(Utf8ToWide(mEvent.ProcessName));
      if (value.bstrVal == nullptr) return kEOutOfMemory;
      type = kCimString;
    } else {
      return kWbemENotFound;
    }
    if (pVal != nullptr) {
      *pVal = value;
    } else if (value.vt == kVtBstr) {
      FreeBstr(value.bstrVal);
    }
    if (pType != nullptr) *pType = type;
    if (plFlavor != nullptr) *plFlavor = 0;
    return kWbemSNoError;
  }

 private:
  const ProcessEvent mEvent;
};

}  // namespace

IWbemClassObject* NewProcessEventObject(const ProcessEvent& event) { return new ProcessEventObject(event); }

}  // namespace platform::posix
