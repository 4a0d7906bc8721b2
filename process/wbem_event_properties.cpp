// Reading a process event's id properties from its management event object.
#include "process/wbem_event_properties.h"

#include <string>

#include "platform/variant.h"

namespace process {

WbemEventProperties::WbemEventProperties(IWbemClassObject* object) : mObject(object) {
  platform::VariantServices& variants = platform::CurrentVariants();
  variants.VariantInit(&mProcessId);
  variants.VariantInit(&mParentProcessId);
}

bool WbemEventProperties::ReadId(std::u16string_view name, std::uint32_t& id) {
  platform::VariantServices& variants = platform::CurrentVariants();
  VARIANT& value = VariantOf(name);
  const std::basic_string<OLECHAR> wideName(name.begin(), name.end());
  if (platform::Failed(mObject->Get(wideName.c_str(), 0, &value, nullptr, nullptr))) return false;
  // A value that does not convert to an unsigned 32-bit number names no
  // process: the read counts as failed.
  const LCID locale = variants.GetThreadLocale();
  if (platform::Failed(variants.VariantChangeTypeEx(&value, &value, locale, 0, platform::kVtUint))) return false;
  id = value.uintVal;
  return true;
}

void WbemEventProperties::Release(std::u16string_view name) {
  platform::CurrentVariants().VariantClear(&VariantOf(name));
}

VARIANT& WbemEventProperties::VariantOf(std::u16string_view name) {
  return name == kParentProcessIdProperty ? mParentProcessId : mProcessId;
}

}  // namespace process
