// The framework's backend on Linux: FLTK windows and message loop.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "controls/link_activation.h"
#include "framework/backend.h"
#include "framework/check_box_look.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/linux/xft_text.h"
#include "framework/threads.h"
#include "platform/text.h"

namespace framework {
namespace {

std::string FormatMessage(const char* format, va_list args) {
  char buffer[1024];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  return buffer;
}

// FLTK's fatal and error reports become exceptions, so that they reach the
// entry point's guard instead of ending the process with code 1.
[[noreturn]] void ThrowReport(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatMessage(format, args);
  va_end(args);
  throw Exception(platform::Utf8ToWide(text));
}

bool DisplayAvailable() {
  if (fl_display != nullptr) return true;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

// A server under load may refuse a connection now and then: the display is
// tried for about a second before it counts as missing.
constexpr auto kDisplayRetryTime = std::chrono::milliseconds(1000);
constexpr auto kDisplayRetryPause = std::chrono::milliseconds(50);

Display* OpenDisplayWithRetry() {
  const auto deadline = std::chrono::steady_clock::now() + kDisplayRetryTime;
  for (;;) {
    if (Display* display = XOpenDisplay(nullptr)) return display;
    if (std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::this_thread::sleep_for(kDisplayRetryPause);
  }
}

// Set once the connection to the X server has broken (the server ended, the
// session ended). From then on Xlib does no I/O on it and nothing may wait
// for X.
std::atomic<bool> gDisplayLost{false};

// Xlib's report of a broken connection: nothing is printed; the exit step
// below marks the display lost and returns, so the process goes on.
int QuietIOError(Display*) { return 0; }
void DisplayLost(Display*, void*) { gDisplayLost.store(true); }

void SetColour(controls::Rgb colour) {
  fl_color(static_cast<uchar>(colour >> 16), static_cast<uchar>(colour >> 8), static_cast<uchar>(colour));
}

Fl_Color FltkColour(controls::Rgb colour) {
  return fl_rgb_color(static_cast<uchar>(colour >> 16), static_cast<uchar>(colour >> 8), static_cast<uchar>(colour));
}

// Gives the keyboard focus to a widget, also to one that draws no focus box
// (Fl::focus refuses those).
void GiveFocus(Fl_Widget* widget) {
  const bool hidden = !widget->visible_focus();
  if (hidden) widget->set_visible_focus();
  Fl::focus(widget);
  if (hidden) widget->clear_visible_focus();
}

// The form's top-level window: moves the focus through the tab stops in the
// layout's tab order with Tab and Shift+Tab.
class FormWidget final : public Fl_Double_Window {
 public:
  FormWidget(int width, int height, const char* caption) : Fl_Double_Window(width, height, caption) {}

  void AddTabStop(int order, Fl_Widget* widget) {
    const auto at = std::find_if(mTabStops.begin(), mTabStops.end(), [order](const auto& stop) { return stop.first > order; });
    mTabStops.insert(at, {order, widget});
  }

  // Gives the focus to the first tab stop unless one has it already.
  void FocusFirst() {
    if (mTabStops.empty() || IsTabStop(Fl::focus())) return;
    GiveFocus(mTabStops.front().second);
  }

  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::event_key() == FL_Tab && !mTabStops.empty()) {
      MoveFocus(Fl::event_state(FL_SHIFT) ? -1 : 1);
      return 1;
    }
    if (event == FL_FOCUS && !mTabStops.empty()) {
      FocusFirst();
      return 1;
    }
    return Fl_Double_Window::handle(event);
  }

 private:
  bool IsTabStop(Fl_Widget* widget) const {
    return std::any_of(mTabStops.begin(), mTabStops.end(), [widget](const auto& stop) { return stop.second == widget; });
  }

  void MoveFocus(int step) {
    const int count = static_cast<int>(mTabStops.size());
    int current = -1;
    for (int k = 0; k < count; ++k) {
      if (mTabStops[static_cast<std::size_t>(k)].second == Fl::focus()) current = k;
    }
    const int next = current < 0 ? 0 : ((current + step) % count + count) % count;
    GiveFocus(mTabStops[static_cast<std::size_t>(next)].second);
    redraw();  // the old and the new focus draw themselves anew
  }

  std::vector<std::pair<int, Fl_Widget*>> mTabStops;  // by tab order
};

// The push button: Space (FLTK's own) and Enter press it while it has the
// keyboard focus.
class PushButtonWidget final : public Fl_Button {
 public:
  PushButtonWidget(int x, int y, int w, int h) : Fl_Button(x, y, w, h) {}

  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
      do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }
};

// The panel: its colour and a one-pixel bevel.
class PanelWidget final : public Fl_Widget {
 public:
  explicit PanelWidget(TPanel& panel) : Fl_Widget(panel.FormLeft(), panel.FormTop(), panel.Width, panel.Height), mPanel(panel) {}
  void draw() override {
    SetColour(ResolveColor(mPanel.Color));
    fl_rectf(x(), y(), w(), h());
    const controls::Rgb light = ResolveColor(mPanel.BevelRaised ? clBtnHighlight : clBtnShadow);
    const controls::Rgb dark = ResolveColor(mPanel.BevelRaised ? clBtnShadow : clBtnHighlight);
    SetColour(light);
    fl_xyline(x(), y(), x() + w() - 1);
    fl_yxline(x(), y(), y() + h() - 1);
    SetColour(dark);
    fl_xyline(x(), y() + h() - 1, x() + w() - 1);
    fl_yxline(x() + w() - 1, y(), y() + h() - 1);
  }

 private:
  TPanel& mPanel;
};

// The picture, clipped to the control.
class ImageWidget final : public Fl_Widget {
 public:
  explicit ImageWidget(TImage& image)
      : Fl_Widget(image.FormLeft(), image.FormTop(), image.Width, image.Height), mImage(image) {
    if (!image.Picture.Empty()) {
      mRgb = std::make_unique<Fl_RGB_Image>(image.Picture.Rgb.data(), image.Picture.Width, image.Picture.Height, 3);
    }
  }
  void draw() override {
    if (mRgb) mRgb->draw(x(), y(), std::min(w(), mImage.Picture.Width), std::min(h(), mImage.Picture.Height));
  }

 private:
  TImage& mImage;
  std::unique_ptr<Fl_RGB_Image> mRgb;
};

// A rich-text label drawn without a background; a press on a link opens it.
class LabelWidget final : public Fl_Widget {
 public:
  explicit LabelWidget(THTMLabel& label)
      : Fl_Widget(label.FormLeft(), label.FormTop(), label.Width, label.Height), mLabel(label) {}

  void draw() override {
    fl_push_clip(x(), y(), w(), h());
    if (!mLabel.Transparent) {
      SetColour(ResolveColor(mLabel.Color));
      fl_rectf(x(), y(), w(), h());
    }
    XftPainter painter(mLabel.Font);
    mLabel.Text().Paint(painter, x(), y(),
                        controls::TextColours{ResolveColor(mLabel.Font.Color), ResolveColor(mLabel.URLColor), true});
    fl_pop_clip();
  }

  int handle(int event) override {
    switch (event) {
      case FL_PUSH:
        return mLabel.MouseDown(Fl::event_x(), Fl::event_y(), controls::SystemLinkOpener()) ? 1 : 0;
      case FL_ENTER:
      case FL_MOVE:
        if (window() != nullptr) {
          window()->cursor(mLabel.LinkAt(Fl::event_x(), Fl::event_y()) ? FL_CURSOR_HAND : FL_CURSOR_DEFAULT);
        }
        return 1;
      case FL_LEAVE:
        if (window() != nullptr) window()->cursor(FL_CURSOR_DEFAULT);
        return 1;
      default:
        return 0;
    }
  }

 private:
  THTMLabel& mLabel;
};

// The classic check box: only the box is drawn (the control is too narrow
// for its caption); a click or Space toggles it. No focus box of FLTK's own.
class CheckBoxWidget final : public Fl_Widget {
 public:
  explicit CheckBoxWidget(THTMLCheckBox& box)
      : Fl_Widget(box.FormLeft(), box.FormTop(), box.Width, box.Height), mBox(box) {
    clear_visible_focus();
  }

  void draw() override {
    fl_push_clip(x(), y(), w(), h());
    if (!mBox.Transparent) {
      SetColour(ResolveColor(mBox.Color));
      fl_rectf(x(), y(), w(), h());
    }
    PaintClassicCheckBox(x(), y() + (h() - kCheckBoxSize) / 2, mBox.Checked, ResolveColor(mBox.CheckColor),
                         ClassicPalette{}, [](int left, int top, int width, int height, controls::Rgb colour) {
                           SetColour(colour);
                           fl_rectf(left, top, width, height);
                         });
    fl_pop_clip();
  }

  int handle(int event) override {
    switch (event) {
      case FL_PUSH:
        if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
        GiveFocus(this);
        return 1;
      case FL_DRAG:
        return 1;
      case FL_RELEASE:
        if (Fl::event_inside(this)) Toggle();
        return 1;
      case FL_FOCUS:
      case FL_UNFOCUS:
        return 1;
      case FL_KEYBOARD:
        if (Fl::event_key() != ' ') return 0;
        Toggle();
        return 1;
      default:
        return 0;
    }
  }

 private:
  void Toggle() {
    THTMLCheckBox* box = &mBox;
    Application->DeliverEvent([box] { box->Toggle(); });
    if (window() != nullptr) window()->redraw();  // the picture shows through around the box
  }

  THTMLCheckBox& mBox;
};

class FltkWindow final : public FormWindow {
 public:
  explicit FltkWindow(TForm& form)
      : mForm(form),
        mCaption(platform::WideToUtf8(form.Properties().Caption)),
        mWindow(form.Properties().ClientWidth, form.Properties().ClientHeight, mCaption.c_str()) {
    const FormProperties& p = form.Properties();
    mWindow.end();
    mWindow.color(FltkColour(ResolveColor(p.Color)));
    if (p.BorderStyle == TFormBorderStyle::bsSingle) {
      mWindow.size_range(p.ClientWidth, p.ClientHeight, p.ClientWidth, p.ClientHeight);
    }
    if (p.Position == TPosition::poDesktopCenter) {
      int x = 0, y = 0, w = 0, h = 0;
      Fl::screen_xywh(x, y, w, h);
      mWindow.position(x + (w - p.ClientWidth) / 2, y + (h - p.ClientHeight) / 2);
    }
    mWindow.callback(&FltkWindow::CloseBox, this);
  }

  void AddButton(TButton& button) override {
    auto* widget =
        Add(std::make_unique<PushButtonWidget>(button.FormLeft(), button.FormTop(), button.Width, button.Height));
    widget->copy_label(platform::WideToUtf8(button.Caption).c_str());
    const TFont& font = mForm.Properties().Font;
    widget->labelfont(FontFor(font.Name, font.Bold, font.Italic));
    widget->labelsize(font.Height);
    widget->labelcolor(FltkColour(ResolveColor(font.Color)));
    widget->color(FltkColour(ResolveColor(clBtnFace)));
    widget->callback(
        [](Fl_Widget*, void* data) {
          auto* target = static_cast<TButton*>(data);
          Application->DeliverEvent([target] { target->Click(); });
        },
        &button);
    if (button.TabOrder >= 0) mWindow.AddTabStop(button.TabOrder, widget);
  }

  void AddPanel(TPanel& panel) override { Add(std::make_unique<PanelWidget>(panel)); }

  void AddImage(TImage& image) override { Add(std::make_unique<ImageWidget>(image)); }

  void AddLabel(THTMLabel& label) override {
    XftMeasurer measurer(label.Font);
    label.Relayout(measurer);
    Add(std::make_unique<LabelWidget>(label));
  }

  void AddCheckBox(THTMLCheckBox& box) override {
    auto* widget = Add(std::make_unique<CheckBoxWidget>(box));
    if (box.TabOrder >= 0) mWindow.AddTabStop(box.TabOrder, widget);
  }

  void SetVisible(bool visible) override {
    if (visible) {
      mWindow.show();
      mWindow.FocusFirst();
    } else {
      mWindow.hide();
    }
  }

 private:
  template <class Widget>
  Widget* Add(std::unique_ptr<Widget> widget) {
    mWindow.add(widget.get());
    return widget.release();  // the window deletes its children
  }

  // The window's callback: the close box, and also an Escape that nothing
  // handled, which the dialog ignores.
  static void CloseBox(Fl_Widget*, void* data) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    auto* self = static_cast<FltkWindow*>(data);
    Application->DeliverEvent([self] { self->mForm.Close(); });
  }

  TForm& mForm;
  std::string mCaption;
  FormWidget mWindow;
};

class FltkBackend final : public Backend {
 public:
  void Initialize() override {
    Fl::fatal = &ThrowReport;
    Fl::error = &ThrowReport;
    Fl::lock();  // lets other threads wake the loop with Fl::awake
  }

  std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) override {
    LoadWineFonts();  // Tahoma from fonts-wine, before Xft opens its first font
    if (fl_display == nullptr) OpenDisplay();
    return std::make_unique<FltkWindow>(form);
  }

  void RunLoop() override {
    mQuit = false;
    // Fl::wait() without a time returns at once while no window is shown
    // (the dialog hides while the installer runs): always wait with a limit.
    while (!mQuit && !gDisplayLost.load()) Fl::wait(1e20);
    if (!mQuit) ServeWithoutDisplay();
  }

  void QuitLoop() override {
    mQuit = true;
    Fl::awake();
    Wake();
  }

  void WakeMainThread() override {
    Wake();
    Fl::awake([](void*) { CheckSynchronize(); }, nullptr);
  }

  int StartTimer(unsigned intervalMs, std::function<void()> tick) override {
    const int id = mNextTimerId++;
    auto timer = std::make_unique<Timer>(Timer{intervalMs / 1000.0, std::move(tick)});
    Fl::add_timeout(timer->Seconds, &FltkBackend::TimerTick, timer.get());
    mTimers[id] = std::move(timer);
    return id;
  }

  void StopTimer(int id) override {
    const auto found = mTimers.find(id);
    if (found == mTimers.end()) return;
    Fl::remove_timeout(&FltkBackend::TimerTick, found->second.get());
    mTimers.erase(found);
  }

  void ShowException(const Exception& error) override {
    const std::string text = platform::WideToUtf8(error.Message());
    // A display that refused the program or broke away gets no window.
    if (!mDisplayRefused && !gDisplayLost.load() && DisplayAvailable()) {
      fl_message_title("ToolbarSetup");
      fl_alert("%s", text.c_str());
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
  }

 private:
  struct Timer {
    double Seconds;
    std::function<void()> Tick;
  };

  // Connects to the X server, retrying for a while; FLTK takes the
  // connection. A broken connection later marks the display lost instead of
  // ending the process.
  void OpenDisplay() {
    Display* display = OpenDisplayWithRetry();
    if (display == nullptr) {
      mDisplayRefused = true;
      throw Exception(platform::Utf8ToWide(std::string("Can't open display: ") + XDisplayName(nullptr)));
    }
    fl_open_display(display);
    XSetIOErrorHandler(&QuietIOError);
    XSetIOErrorExitHandler(display, &DisplayLost, nullptr);
  }

  // After the display is lost: the main thread serves the workers' calls
  // until no worker is left (their termination notices delivered), then the
  // loop ends. The timers stop: what they would show needs the window.
  void ServeWithoutDisplay() {
    while (!mQuit && RunningThreadCount() > 0) {
      {
        std::unique_lock<std::mutex> lock(mWakeMutex);
        mWakeSignal.wait_for(lock, std::chrono::milliseconds(100), [this] { return mWoken; });
        mWoken = false;
      }
      CheckSynchronize();
    }
  }

  void Wake() {
    {
      std::lock_guard<std::mutex> lock(mWakeMutex);
      mWoken = true;
    }
    mWakeSignal.notify_one();
  }

  static void TimerTick(void* data) {
    auto* timer = static_cast<Timer*>(data);
    Fl::repeat_timeout(timer->Seconds, &FltkBackend::TimerTick, data);
    const std::function<void()> tick = timer->Tick;  // the tick may stop and free this timer
    tick();
  }

  bool mQuit = false;
  bool mDisplayRefused = false;
  std::mutex mWakeMutex;
  std::condition_variable mWakeSignal;
  bool mWoken = false;  // guarded by mWakeMutex
  std::map<int, std::unique_ptr<Timer>> mTimers;
  int mNextTimerId = 1;
};

}  // namespace

std::unique_ptr<Backend> CreatePlatformBackend() { return std::make_unique<FltkBackend>(); }

}  // namespace framework
