// The benchmark's yardstick: the smallest FLTK program with a window of the
// dialog's size and one button, linked like the setup program. NVK_SCALE
// (a factor such as 1.5, as the dialog reads it) scales the sizes, so that at
// every scale both paint the same area.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

#include <cmath>
#include <cstdlib>

int main() {
  const char* text = std::getenv("NVK_SCALE");
  double factor = text != nullptr ? std::atof(text) : 1.0;
  if (!std::isfinite(factor) || factor < 1.0 || factor > 4.0) factor = 1.0;
  const auto scaled = [factor](int value) { return static_cast<int>(std::lround(value * factor)); };
  Fl_Double_Window window(scaled(442), scaled(397), "Setup");
  Fl_Button button(scaled(349), scaled(361), scaled(75), scaled(25), "Install");
  button.labelsize(scaled(FL_NORMAL_SIZE));
  window.end();
  window.show();
  return Fl::run();
}
