// What the FLTK backend's widgets share: colours in FLTK's terms and focus
// for widgets that draw no focus box. Main thread.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include "controls/markup.h"

namespace framework {

// Makes the colour FLTK's current drawing colour.
inline void SetColour(controls::Rgb colour) {
  fl_color(static_cast<uchar>(colour >> 16), static_cast<uchar>(colour >> 8), static_cast<uchar>(colour));
}

inline Fl_Color FltkColour(controls::Rgb colour) {
  return fl_rgb_color(static_cast<uchar>(colour >> 16), static_cast<uchar>(colour >> 8), static_cast<uchar>(colour));
}

// Gives the keyboard focus to a widget, also to one that draws no focus box
// (Fl::focus refuses those).
inline void GiveFocus(Fl_Widget* widget) {
  const bool hidden = !widget->visible_focus();
  if (hidden) widget->set_visible_focus();
  Fl::focus(widget);
  if (hidden) widget->clear_visible_focus();
}

}  // namespace framework
