// Tahoma measured with the real font of the build's platform, for layout tests.
#pragma once

#include <memory>
#include <string>

#include "controls/text_layout.h"

// A measurer for Tahoma at the given character height in pixels (the em
// height, as a font height of -pixels asks for), regular and bold. Linux reads
// the fonts-wine TTFs with FreeType; Windows asks GDI. Null when the font
// cannot be had; `problem` then says why.
std::unique_ptr<controls::TextMeasurer> MakeTahomaMeasurer(int pixels, std::string& problem);
