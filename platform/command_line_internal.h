// What each platform supplies behind GetCommandLineA.
#pragma once

#include <optional>
#include <string>

namespace platform {
std::string SystemCommandLineA();
std::optional<std::string>& CommandLineOverride();
}  // namespace platform
