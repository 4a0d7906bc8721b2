// In the headless build of the framework, the headless backend is the default.
#include "framework/headless/headless_backend.h"

namespace framework {
std::unique_ptr<Backend> CreatePlatformBackend() { return std::make_unique<HeadlessBackend>(); }
}  // namespace framework
