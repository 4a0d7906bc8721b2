// The link activation rule.
#include "controls/link_activation.h"

#include <algorithm>

#include "platform/shell.h"

namespace controls {

bool IsOpenableTarget(std::u16string_view target) {
  const bool hasScheme =
      target.find(u"://") != std::u16string_view::npos || target.find(u"mailto:") != std::u16string_view::npos;
  if (!hasScheme || target.front() == u'-') return false;
  return std::none_of(target.begin(), target.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

bool ActivateLink(std::u16string_view target) {
  if (!IsOpenableTarget(target)) return false;
  return platform::CurrentLinkOpener().OpenWithDefaultHandler(target);
}

}  // namespace controls
