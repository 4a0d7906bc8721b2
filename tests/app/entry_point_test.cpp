// The entry point's guard and the application's start-up order, on the headless framework.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/entry.h"
#include "tests/support/headless_app.h"

namespace {

class ThrowsException : public TForm {
 public:
  explicit ThrowsException(TComponent* owner) : TForm(owner) { throw Exception(u"Broken layout"); }
};
class ThrowsStd : public TForm {
 public:
  explicit ThrowsStd(TComponent* owner) : TForm(owner) { throw std::runtime_error("not shown"); }
};
class ThrowsInt : public TForm {
 public:
  explicit ThrowsInt(TComponent* owner) : TForm(owner) { throw 42; }
};
class DerivedException : public Exception {
 public:
  DerivedException() : Exception(u"derived") {}
};
class ThrowsDerived : public TForm {
 public:
  explicit ThrowsDerived(TComponent* owner) : TForm(owner) { throw DerivedException(); }
};

// Shows itself, then closes at the first turn of the message loop.
class ClosesAtOnce : public TForm {
 public:
  explicit ClosesAtOnce(TComponent* owner) : TForm(owner) {
    Properties().Caption = u"Setup";
    OnShow = [this](TObject*) {
      ++shows;
      static_cast<framework::HeadlessBackend&>(framework::CurrentBackend()).Post([this] { Close(); });
    };
  }
  static inline int shows = 0;
};

// Its show handler throws, as a handler run by the message loop might.
class ShowThrows : public TForm {
 public:
  explicit ShowThrows(TComponent* owner) : TForm(owner) {
    OnShow = [](TObject*) { throw Exception(u"from a handler"); };
  }
};

TEST(EntryPoint, ExceptionFromConstructionIsShownAndReturnsZero) {
  HeadlessBackendInPlace headless;
  const framework::HeadlessBackend& backend = headless.Backend;
  ThrowsException* form = nullptr;
  EXPECT_EQ(RunEntryPoint(form), 0);
  EXPECT_EQ(backend.ShownErrors(), std::vector<std::u16string>{u"Broken layout"});
  EXPECT_EQ(backend.InitializeCount(), 1);
  EXPECT_TRUE(backend.Windows().empty());
}

TEST(EntryPoint, DerivedExceptionKeepsItsMessage) {
  HeadlessBackendInPlace headless;
  const framework::HeadlessBackend& backend = headless.Backend;
  ThrowsDerived* form = nullptr;
  EXPECT_EQ(RunEntryPoint(form), 0);
  EXPECT_EQ(backend.ShownErrors(), std::vector<std::u16string>{u"derived"});
}

TEST(EntryPoint, AnyOtherExceptionIsShownWithAnEmptyMessage) {
  {
    HeadlessBackendInPlace headless;
    const framework::HeadlessBackend& backend = headless.Backend;
    ThrowsStd* form = nullptr;
    EXPECT_EQ(RunEntryPoint(form), 0);
    EXPECT_EQ(backend.ShownErrors(), std::vector<std::u16string>{u""});
  }
  {
    HeadlessBackendInPlace headless;
    const framework::HeadlessBackend& backend = headless.Backend;
    ThrowsInt* form = nullptr;
    EXPECT_EQ(RunEntryPoint(form), 0);
    EXPECT_EQ(backend.ShownErrors(), std::vector<std::u16string>{u""});
  }
}

TEST(EntryPoint, MainFormIsShownAndClosingItEndsTheRun) {
  HeadlessBackendInPlace headless;
  const framework::HeadlessBackend& backend = headless.Backend;
  ClosesAtOnce* form = nullptr;
  ClosesAtOnce::shows = 0;
  EXPECT_EQ(RunEntryPoint(form), 0);
  EXPECT_EQ(ClosesAtOnce::shows, 1);
  ASSERT_EQ(backend.Windows().size(), 1u);
  EXPECT_EQ(backend.Windows()[0].Properties.Caption, u"Setup");
  EXPECT_EQ(backend.Windows()[0].ShowCount, 1);
  EXPECT_FALSE(backend.Windows()[0].Visible);
  EXPECT_TRUE(backend.ShownErrors().empty());
  EXPECT_EQ(Application->MainForm(), nullptr) << "the forms are destroyed when Run returns";
}

TEST(EntryPoint, ExceptionFromAnEventHandlerReachesTheGuard) {
  HeadlessBackendInPlace headless;
  const framework::HeadlessBackend& backend = headless.Backend;
  ShowThrows* form = nullptr;
  EXPECT_EQ(RunEntryPoint(form), 0);
  EXPECT_EQ(backend.ShownErrors(), std::vector<std::u16string>{u"from a handler"});
}

}  // namespace
