// Tab order and keyboard focus in a form's top-level FLTK window.
#include "framework/linux/form_widget.h"

#include <FL/Fl.H>

#include <algorithm>
#include <cstddef>

#include "framework/linux/widget_support.h"

namespace framework {

void FormWidget::AddTabStop(int order, Fl_Widget* widget) {
  const auto at = std::find_if(mTabStops.begin(), mTabStops.end(), [order](const auto& stop) { return stop.first > order; });
  mTabStops.insert(at, {order, widget});
}

void FormWidget::FocusFirst() {
  if (mTabStops.empty() || IsTabStop(Fl::focus())) return;
  GiveFocus(mTabStops.front().second);
}

int FormWidget::handle(int event) {
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

bool FormWidget::IsTabStop(Fl_Widget* widget) const {
  return std::any_of(mTabStops.begin(), mTabStops.end(), [widget](const auto& stop) { return stop.second == widget; });
}

void FormWidget::MoveFocus(int step) {
  const int count = static_cast<int>(mTabStops.size());
  int current = -1;
  for (int k = 0; k < count; ++k) {
    if (mTabStops[static_cast<std::size_t>(k)].second == Fl::focus()) current = k;
  }
  const int next = current < 0 ? 0 : ((current + step) % count + count) % count;
  GiveFocus(mTabStops[static_cast<std::size_t>(next)].second);
  redraw();  // the old and the new focus draw themselves anew
}

}  // namespace framework
