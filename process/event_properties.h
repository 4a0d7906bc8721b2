// The id properties of one process start or stop event, as the tracker's
// handlers read them.
#pragma once

#include <cstdint>
#include <string_view>

namespace process {

// Property names of the event objects.
inline constexpr std::u16string_view kProcessIdProperty = u"ProcessId";
inline constexpr std::u16string_view kParentProcessIdProperty = u"ParentProcessId";

// One event object, read on the thread that delivers it and only for the
// duration of one handler call.
class EventProperties {
 public:
  virtual ~EventProperties() = default;
  // Reads the named property and converts it to an unsigned 32-bit number.
  // False when it cannot be read or cannot be converted; `id` is then
  // unchanged. What the read holds stays held until Release with that name.
  virtual bool ReadId(std::u16string_view name, std::uint32_t& id) = 0;
  // Releases what reading the named property holds; every read, successful
  // or not, is released exactly once.
  virtual void Release(std::u16string_view name) = 0;
};

}  // namespace process
