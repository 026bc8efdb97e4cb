#pragma once
// A small bitmap font for the words on pictures: 5x7 glyphs of digits,
// letters and a little punctuation, drawn at a whole-number scale.
#include <string_view>

#include "bench/png.h"

namespace bench {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = kGlyphWidth + 1; // a blank column between glyphs

// Whether the font draws this character; others are drawn as '?'.
bool hasGlyph(char c);

// The width the text takes at this scale, without a gap after its last glyph.
int textWidth(std::string_view text, int scale);

// Draws the text with its top-left corner at (x, y); what falls outside the
// image is left out.
void drawText(RgbImage& image, int x, int y, std::string_view text, Rgb colour, int scale);

} // namespace bench
