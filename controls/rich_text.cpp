// The rich-text content of a control: markup, layout, painting and link clicks.
#include "controls/rich_text.h"

namespace controls {

void RichText::SetMarkup(std::u16string_view markup) {
  mMarkup = markup;
  mText = ParseMarkup(markup);
  mLayout = TextLayout{};
}

void RichText::Relayout(TextMeasurer& measurer, const LayoutOptions& options) {
  mLayout = LayoutText(mText, measurer, options);
}

void RichText::Paint(TextPainter& painter, int left, int top, const TextColours& colours) const {
  PaintLayout(mLayout, left, top, colours, painter);
}

const std::u16string* RichText::LinkTargetAt(int x, int y) const {
  const int link = LinkAt(mLayout, x, y);
  if (link < 0 || static_cast<std::size_t>(link) >= mText.LinkTargets.size()) return nullptr;
  return &mText.LinkTargets[static_cast<std::size_t>(link)];
}

bool RichText::MouseDown(int x, int y) const {
  const std::u16string* target = LinkTargetAt(x, y);
  return target != nullptr && ActivateLink(*target);
}

}  // namespace controls
