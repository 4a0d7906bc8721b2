// The benchmark's yardstick: the smallest FLTK program with a window of the
// dialog's size and one button, linked like the setup program.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

int main() {
  Fl_Double_Window window(442, 397, "Setup");
  Fl_Button button(349, 361, 75, 25, "Install");
  window.end();
  window.show();
  return Fl::run();
}
