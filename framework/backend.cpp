// The build's own backend of the framework, made once.
#include "framework/backend.h"

namespace framework {

Backend& SystemBackend() {
  static const std::unique_ptr<Backend> backend = CreatePlatformBackend();  // ends with the process
  return *backend;
}

}  // namespace framework
