// The Win32 form window on the run's display under Wine: what hiding it
// does to the system's tracking of the pointer over its controls, and what it
// draws for a control that asks for the background behind it.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "framework/backend.h"
#include "framework/controls.h"
#include "framework/forms.h"

namespace {

// A form of 200 x 100 with the given caption on a fresh Win32 backend, in
// place of the build's own.
class FormWindowTest : public ::testing::Test {
 protected:
  explicit FormWindowTest(const char16_t* caption) {
    mBackend->Initialize();
    FormProperties& p = mForm.Properties();
    p.Caption = caption;
    p.ClientWidth = 200;
    p.ClientHeight = 100;
    p.Position = TPosition::poDesktopCenter;
  }

  std::unique_ptr<framework::Backend> mBackend = framework::CreatePlatformBackend();
  framework::ScopedBackendForTesting mUse{*mBackend};
  TForm mForm{nullptr};
};

class HiddenFormTest : public FormWindowTest {
 protected:
  HiddenFormTest() : FormWindowTest(u"Pointer tracking") {
    mButton->Caption = u"Install";
    mButton->Left = 50;
    mButton->Top = 30;
    mButton->Width = 100;
    mButton->Height = 40;
  }

  // The pointer put over the shown button, and the button tracking it for
  // hover and leave as a themed button does.
  HWND ShowAndTrackTheButton() {
    mForm.SetVisible(true);
    const HWND form = FindWindowW(nullptr, L"Pointer tracking");
    const HWND button = form == nullptr ? nullptr : FindWindowExW(form, nullptr, L"BUTTON", nullptr);
    if (button == nullptr) return nullptr;
    RECT place{};
    GetWindowRect(button, &place);
    SetCursorPos((place.left + place.right) / 2, (place.top + place.bottom) / 2);
    TRACKMOUSEEVENT tracking{sizeof(TRACKMOUSEEVENT), TME_HOVER | TME_LEAVE, button, HOVER_DEFAULT};
    TrackMouseEvent(&tracking);
    return button;
  }

  static TRACKMOUSEEVENT Tracked() {
    TRACKMOUSEEVENT tracking{sizeof(TRACKMOUSEEVENT), TME_QUERY, nullptr, 0};
    TrackMouseEvent(&tracking);
    return tracking;
  }

  // Whether a WM_MOUSELEAVE for the window is waiting in this thread's queue.
  static bool LeaveQueued(HWND window) {
    MSG message;
    return PeekMessageW(&message, window, WM_MOUSELEAVE, WM_MOUSELEAVE, PM_REMOVE) != 0;
  }

  TButton* mButton = new TButton(&mForm);
};

TEST_F(HiddenFormTest, HidingEndsThePointerTrackingOfItsButton) {
  const HWND button = ShowAndTrackTheButton();
  ASSERT_NE(button, nullptr);
  ASSERT_EQ(Tracked().hwndTrack, button) << "the pointer is not tracked over the shown button";
  LeaveQueued(button);

  mForm.SetVisible(false);
  const TRACKMOUSEEVENT after = Tracked();
  EXPECT_EQ(after.hwndTrack, nullptr);
  EXPECT_EQ(after.dwFlags & (TME_HOVER | TME_LEAVE), 0u);
  EXPECT_TRUE(LeaveQueued(button)) << "the button does not hear that the pointer left";
}

TEST_F(HiddenFormTest, TrackingOfAnotherWindowIsLeftAlone) {
  mForm.SetVisible(true);
  const HWND other = CreateWindowExW(0, L"BUTTON", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 80, 80, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  SetCursorPos(40, 40);
  TRACKMOUSEEVENT tracking{sizeof(TRACKMOUSEEVENT), TME_LEAVE, other, 0};
  TrackMouseEvent(&tracking);
  ASSERT_EQ(Tracked().hwndTrack, other);

  mForm.SetVisible(false);
  EXPECT_EQ(Tracked().hwndTrack, other);
  DestroyWindow(other);
}

// A themed button gets what lies behind it by moving a context's origin to
// its own place on the form and asking the form to print itself there.
class FormBackdropTest : public FormWindowTest {
 protected:
  FormBackdropTest() : FormWindowTest(u"Backdrop") {
    mPanel->Left = 120;
    mPanel->Top = 40;
    mPanel->Width = 40;
    mPanel->Height = 30;
    mPanel->Color = clGreen;
    mForm.SetVisible(true);
    mWindow = FindWindowW(nullptr, L"Backdrop");
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kSide, -kSide, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    mDc = CreateCompatibleDC(nullptr);
    mBitmap = CreateDIBSection(mDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    mOriginal = SelectObject(mDc, mBitmap);
  }
  ~FormBackdropTest() override {
    SelectObject(mDc, mOriginal);
    DeleteObject(mBitmap);
    DeleteDC(mDc);
  }

  // What the form prints into a small context whose origin stands at (x, y)
  // of the form: the pixel at the context's own (dx, dy).
  COLORREF PrintedAt(int x, int y, int dx, int dy) {
    SetViewportOrgEx(mDc, -x, -y, nullptr);
    SendMessageW(mWindow, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mDc), PRF_CLIENT);
    POINT origin{};
    SetViewportOrgEx(mDc, 0, 0, &origin);
    EXPECT_EQ(origin.x, -x) << "the form left the context's origin moved";
    return GetPixel(mDc, dx, dy);
  }

  static constexpr int kSide = 20;
  TPanel* mPanel = new TPanel(&mForm);
  HWND mWindow = nullptr;
  HDC mDc = nullptr;
  HBITMAP mBitmap = nullptr;
  HGDIOBJ mOriginal = nullptr;
};

TEST_F(FormBackdropTest, PrintsWhatLiesAtTheContextsOrigin) {
  ASSERT_NE(mWindow, nullptr);
  // Inside the panel, away from its bevel, and beside it on the form.
  EXPECT_EQ(PrintedAt(130, 50, 5, 5), RGB(0, 0x80, 0));
  EXPECT_NE(PrintedAt(100, 50, 5, 5), RGB(0, 0x80, 0));
  // The panel reaches into a context that stands mostly beside it.
  EXPECT_EQ(PrintedAt(105, 45, 18, 10), RGB(0, 0x80, 0));
}

}  // namespace
