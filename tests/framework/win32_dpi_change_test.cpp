// The Win32 form window told that its monitor's dpi changed (the message a
// per-monitor aware window gets when it moves to a monitor of another
// scale; Wine never sends it, so the test does): the window takes the
// suggested rectangle and lays its controls out for the new dpi.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "framework/backend.h"
#include "framework/controls.h"
#include "framework/forms.h"

namespace {

constexpr UINT kDpiChanged = 0x02E0;

class DpiChangeTest : public ::testing::Test {
 protected:
  DpiChangeTest() {
    mBackend->Initialize();
    FormProperties& p = mForm.Properties();
    p.Caption = u"Dpi change";
    p.ClientWidth = 300;
    p.ClientHeight = 200;
    p.BorderStyle = TFormBorderStyle::bsSingle;
    p.Position = TPosition::poDesktopCenter;
    mLabel->Left = 10;
    mLabel->Top = 20;
    mLabel->Width = 400;  // one line at every dpi
    mLabel->Height = 19;
    mLabel->Font.Height = 11;
    mLabel->SetHTMLText(u"Search from any website");
    mBox->Left = 22;
    mBox->Top = 60;
    mBox->Width = 14;
    mBox->Height = 20;
    mBox->TabOrder = 0;
    mButton->Caption = u"Install";
    mButton->Left = 201;
    mButton->Top = 161;
    mButton->Width = 75;
    mButton->Height = 25;
    mButton->TabOrder = 1;
  }

  HWND Show() {
    mForm.SetVisible(true);
    return FindWindowW(nullptr, L"Dpi change");
  }

  // A child window's place on its parent's client area: left, top, width, height.
  static RECT PlaceOf(HWND parent, HWND child) {
    RECT area{};
    GetWindowRect(child, &area);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    return RECT{area.left, area.top, area.right - area.left, area.bottom - area.top};
  }

  static void ExpectRect(const RECT& actual, const RECT& expected) {
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
  }

  static void SendDpiChange(HWND form, int dpi, RECT suggested) {
    SendMessageW(form, kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  }

  std::unique_ptr<framework::Backend> mBackend = framework::CreatePlatformBackend();
  framework::ScopedBackendForTesting mUse{*mBackend};
  TForm mForm{nullptr};
  THTMLabel* mLabel = new THTMLabel(&mForm);
  THTMLCheckBox* mBox = new THTMLCheckBox(&mForm);
  TButton* mButton = new TButton(&mForm);
};

TEST_F(DpiChangeTest, TakesTheSuggestedRectangleAndLaysItselfOutAgain) {
  const HWND form = Show();
  ASSERT_NE(form, nullptr);
  const int dpi = mForm.Dpi();  // the run's display: 96 unless its prefix says otherwise
  const int lineAtFirst = mLabel->Height;
  const HWND button = FindWindowExW(form, nullptr, L"BUTTON", nullptr);
  const HWND box = FindWindowExW(form, nullptr, L"TNorvikHTMLCheckBox", nullptr);
  ASSERT_NE(button, nullptr);
  ASSERT_NE(box, nullptr);

  const struct {
    int Dpi;
    RECT Suggested;
    RECT Button, Box;  // left, top, width, height
    int LabelFont, LabelLeft;
  } changes[] = {
      {192, {40, 30, 700, 520}, {402, 322, 150, 50}, {44, 120, 28, 40}, 22, 20},
      {144, {100, 120, 600, 500}, {302, 242, 113, 38}, {33, 90, 21, 30}, 17, 15},
      {96, {200, 150, 530, 410}, {201, 161, 75, 25}, {22, 60, 14, 20}, 11, 10},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.Dpi);
    SendDpiChange(form, change.Dpi, change.Suggested);
    RECT window{};
    GetWindowRect(form, &window);
    ExpectRect(window, change.Suggested);
    EXPECT_EQ(mForm.Dpi(), change.Dpi);
    ExpectRect(PlaceOf(form, button), change.Button);
    ExpectRect(PlaceOf(form, box), change.Box);
    EXPECT_EQ(mLabel->Font.Height, change.LabelFont);
    EXPECT_EQ(mLabel->Left, change.LabelLeft);
    // The text was laid out again in the new font: its lines grew with it,
    // and the label took the size of the new layout.
    EXPECT_EQ(mLabel->Height, mLabel->Text().Layout().Height);
    EXPECT_EQ(mLabel->Width, mLabel->Text().Layout().Width);
    if (dpi == 96) {
      const double ratio = static_cast<double>(mLabel->Text().Layout().Height) / lineAtFirst;
      EXPECT_GE(ratio, change.Dpi == 192 ? 1.9 : (change.Dpi == 144 ? 1.4 : 1.0)) << mLabel->Height;
      if (change.Dpi == 96) {
        EXPECT_EQ(mLabel->Height, lineAtFirst);
      }
    }
  }
  mForm.SetVisible(false);
}

}  // namespace
