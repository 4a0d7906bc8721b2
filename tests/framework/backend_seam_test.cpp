// The framework's backend seam: the application's calls reach the backend put
// in place by a scoped override, for exactly the override's lifetime.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/forms.h"
#include "framework/headless/headless_backend.h"

namespace {

using Errors = std::vector<std::u16string>;

TEST(BackendSeam, ScopedOverrideReplacesTheBackendForItsLifetimeAndNests) {
  framework::Backend& system = framework::SystemBackend();
  ASSERT_EQ(&framework::CurrentBackend(), &system);

  framework::HeadlessBackend outer;
  framework::HeadlessBackend inner;
  {
    framework::ScopedBackendForTesting useOuter(outer);
    EXPECT_EQ(&framework::CurrentBackend(), &outer);
    Application->ShowException(Exception(u"one"));
    {
      framework::ScopedBackendForTesting useInner(inner);
      EXPECT_EQ(&framework::CurrentBackend(), &inner);
      Application->ShowException(Exception(u"two"));
    }
    EXPECT_EQ(&framework::CurrentBackend(), &outer) << "the inner override gives the outer one back";
    Application->ShowException(Exception(u"three"));
  }
  EXPECT_EQ(&framework::CurrentBackend(), &system) << "the build's own backend is back";
  EXPECT_EQ(outer.ShownErrors(), (Errors{u"one", u"three"}));
  EXPECT_EQ(inner.ShownErrors(), (Errors{u"two"}));
}

}  // namespace
