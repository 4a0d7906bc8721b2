// The platform-free content of a rich-text label or check box caption.
#pragma once

#include <string>
#include <string_view>

#include "controls/link_activation.h"
#include "controls/markup.h"
#include "controls/text_layout.h"
#include "controls/text_painter.h"

namespace controls {

// Markup, its runs and their current layout. Owned by one control and used
// only on its UI thread. A platform control keeps one, lays it out with its
// font's measurer when the markup, font or width change, sizes itself to
// Layout().Width x Layout().Height if it sizes to its text, paints it with its
// painter and passes mouse presses to MouseDown.
class RichText {
 public:
  // Parses the markup; the layout is empty until the next Relayout.
  void SetMarkup(std::u16string_view markup);
  const std::u16string& Markup() const { return mMarkup; }
  const MarkupText& Text() const { return mText; }

  void Relayout(TextMeasurer& measurer, const LayoutOptions& options);
  // Valid until the next SetMarkup or Relayout.
  const TextLayout& Layout() const { return mLayout; }

  // Draws the text with its top left at (left, top).
  void Paint(TextPainter& painter, int left, int top, const TextColours& colours) const;

  // The target of the link under (x, y), from the text's top left; null when
  // there is none. Valid until the next SetMarkup.
  const std::u16string* LinkTargetAt(int x, int y) const;

  // Any mouse button went down at (x, y), from the text's top left: a link
  // there is activated by the rule of ActivateLink. True when a link was opened.
  bool MouseDown(int x, int y) const;

 private:
  std::u16string mMarkup;
  MarkupText mText;
  TextLayout mLayout;
};

}  // namespace controls
