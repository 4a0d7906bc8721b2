// The top-level FLTK window of a form: it moves the keyboard focus through
// the form's tab stops in their tab order with Tab and Shift+Tab.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <utility>
#include <vector>

namespace framework {

// Made, used and destroyed on the main thread; it deletes its child widgets.
class FormWidget final : public Fl_Double_Window {
 public:
  // The caption is not copied: it must outlive the window.
  FormWidget(int width, int height, const char* caption) : Fl_Double_Window(width, height, caption) {}

  // Makes a child widget a tab stop at the given place of the tab order.
  void AddTabStop(int order, Fl_Widget* widget);

  // Gives the focus to the first tab stop unless one has it already.
  void FocusFirst();

  int handle(int event) override;

 private:
  bool IsTabStop(Fl_Widget* widget) const;
  void MoveFocus(int step);

  std::vector<std::pair<int, Fl_Widget*>> mTabStops;  // by tab order
};

}  // namespace framework
