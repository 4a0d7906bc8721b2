// Opening a document or address with the system's default handler for it.
#pragma once

#include <string_view>

namespace platform {

// Asks the system to open the target with its default handler (Windows:
// ShellExecuteW with the verb "open", no parameters, no working folder, show
// state 1; Linux: xdg-open with the target as its only argument, started
// directly, never through a shell). Returns once the request is handed over,
// without waiting for the handler; true when it was accepted (on Linux: when
// xdg-open started). Call from the UI thread.
bool OpenWithDefaultHandler(std::u16string_view target);

}  // namespace platform
