// The program's entry procedure on the build's own framework (Win32 or FLTK)
// with a main form whose construction fails, as NVK_PROBE_THROW chooses:
//   "exception"  the framework's Exception with kMessage
//   "standard"   a std::runtime_error, which the guard shows with an empty message
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/entry.h"

namespace {

// Also outside ASCII and outside Windows-1252, to follow the text to the screen.
constexpr char16_t kMessage[] = u"The form could not be built: \u00e9\u0436";

class FailingForm : public TForm {
 public:
  explicit FailingForm(TComponent* owner) : TForm(owner) {
    const std::string kind = std::getenv("NVK_PROBE_THROW");
    if (kind == "exception") throw Exception(kMessage);
    throw std::runtime_error("this text is not shown");
  }
};

FailingForm* gForm = nullptr;

}  // namespace

int main() {
  const char* kind = std::getenv("NVK_PROBE_THROW");
  if (kind == nullptr || (std::string(kind) != "exception" && std::string(kind) != "standard")) {
    std::fprintf(stderr, "entry_guard_probe: set NVK_PROBE_THROW to exception or standard\n");
    return 2;
  }
  return RunEntryPoint(gForm);
}
