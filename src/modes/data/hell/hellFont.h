#pragma once
// The Hellschreiber font: 96 glyphs for the characters 0x20 to 0x7F, each
// its width in columns (1 to 5), then five column bytes, leftmost first
// (bytes past the width are 0). In a column byte bit 7 is the top row and
// bit 0 the bottom (descender) row; a set bit is a lit pixel.
#include <array>
#include <cstdint>

namespace hell {

using glyph = std::array<uint8_t, 6>;
extern const std::array<glyph, 96> font;

} // namespace hell
