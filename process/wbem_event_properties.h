// The id properties of a delivered management event object, read through the
// variant seam.
#pragma once

#include "platform/wmi_types.h"
#include "process/event_properties.h"

namespace process {

// Lives for one handler call on the delivering thread; the object is lent for
// that call. One variant per property name, empty from the start; Release
// clears it.
class WbemEventProperties final : public EventProperties {
 public:
  explicit WbemEventProperties(IWbemClassObject* object);
  WbemEventProperties(const WbemEventProperties&) = delete;
  WbemEventProperties& operator=(const WbemEventProperties&) = delete;

  // Get with flags 0 and no type or flavour, then VariantChangeTypeEx in
  // place to VT_UINT in the thread's locale. A negative result of either is
  // a failed read.
  bool ReadId(std::u16string_view name, std::uint32_t& id) override;
  void Release(std::u16string_view name) override;

 private:
  VARIANT& VariantOf(std::u16string_view name);

  IWbemClassObject* mObject;
  VARIANT mProcessId;
  VARIANT mParentProcessId;
};

}  // namespace process
