// Scoped owners of the GDI pairs the Win32 backend uses: a window's device
// context (GetDC/ReleaseDC), a paint cycle (BeginPaint/EndPaint), a saved
// context state (SaveDC/RestoreDC) and a memory bitmap drawn off screen and
// copied in one go. A drawing routine may return anywhere and still leaves
// the context as it found it. Main thread, like all drawing.
#pragma once

#include <windows.h>

namespace framework {

// The device context of a window's client area, for measuring.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND window) : mWindow(window), mDc(GetDC(window)) {}
  ~ScopedGetDC() {
    if (mDc != nullptr) ReleaseDC(mWindow, mDc);
  }
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  HDC Get() const { return mDc; }

 private:
  HWND mWindow;
  HDC mDc;
};

// One WM_PAINT cycle of a window.
class ScopedPaint {
 public:
  explicit ScopedPaint(HWND window) : mWindow(window), mDc(BeginPaint(window, &mPaint)) {}
  ~ScopedPaint() { EndPaint(mWindow, &mPaint); }
  ScopedPaint(const ScopedPaint&) = delete;
  ScopedPaint& operator=(const ScopedPaint&) = delete;
  HDC Get() const { return mDc; }

 private:
  HWND mWindow;
  PAINTSTRUCT mPaint{};
  HDC mDc;
};

// The context's state (clip region, origin, selected objects) while it lives.
class ScopedSaveDC {
 public:
  explicit ScopedSaveDC(HDC dc) : mDc(dc), mSaved(SaveDC(dc)) {}
  ~ScopedSaveDC() {
    if (mSaved != 0) RestoreDC(mDc, mSaved);
  }
  ScopedSaveDC(const ScopedSaveDC&) = delete;
  ScopedSaveDC& operator=(const ScopedSaveDC&) = delete;

 private:
  HDC mDc;
  int mSaved;
};

// A memory bitmap the size of a rectangle: drawing goes there first and
// reaches the target in one copy when this goes, so nothing flickers.
class BufferedPaint {
 public:
  BufferedPaint(HDC target, int width, int height)
      : mTarget(target), mWidth(width), mHeight(height), mDc(CreateCompatibleDC(target)),
        mBitmap(CreateCompatibleBitmap(target, width > 0 ? width : 1, height > 0 ? height : 1)),
        mOriginal(SelectObject(mDc, mBitmap)) {}
  ~BufferedPaint() {
    BitBlt(mTarget, 0, 0, mWidth, mHeight, mDc, 0, 0, SRCCOPY);
    SelectObject(mDc, mOriginal);
    DeleteObject(mBitmap);
    DeleteDC(mDc);
  }
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;
  HDC Dc() const { return mDc; }

 private:
  HDC mTarget;
  int mWidth;
  int mHeight;
  HDC mDc;
  HBITMAP mBitmap;
  HGDIOBJ mOriginal;
};

}  // namespace framework
