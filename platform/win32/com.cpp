// COM initialisation on Windows.
#include <objbase.h>

#include "platform/com.h"

namespace platform {

HResult ComInitializeEx(std::uint32_t flags) { return CoInitializeEx(nullptr, flags); }
HResult ComInitialize() { return CoInitialize(nullptr); }
void ComUninitialize() { CoUninitialize(); }

}  // namespace platform
