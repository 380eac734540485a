// The stroke font of the labels: 8 character sets of 128 glyphs, each glyph a string of stroke bytes
// on a small grid, ended by a 0 byte.
#pragma once

#include <cstdint>

namespace ostrelin::hpgl {

constexpr int kFontSets = 8;
constexpr int kGlyphsPerSet = 128;

// Grid of a glyph point: gx from -1 to 6, gy from -4 to 11; a capital spans gx 0..4, gy 0..6.
constexpr int kGlyphMinX = -1;
constexpr int kGlyphMaxX = 6;
constexpr int kGlyphMinY = -4;
constexpr int kGlyphMaxY = 11;

// Stroke byte: bit 7 draw (else move), bits 6..4 gx + 1, bits 3..0 gy + 4.
constexpr uint8_t kStrokeDraw = 0x80;
constexpr bool StrokeIsDraw(uint8_t stroke) { return (stroke & kStrokeDraw) != 0; }
constexpr int StrokeX(uint8_t stroke) { return ((stroke >> 4) & 7) - 1; }
constexpr int StrokeY(uint8_t stroke) { return (stroke & 15) - 4; }

// The 0-terminated stroke bytes of a glyph; set 0..7, code 0..127.
const uint8_t* GlyphStrokes(int set, int code);

// Non-spacing characters overprint the cell before them (accents and the like).
bool IsNonSpacing(int set, int code);

}  // namespace ostrelin::hpgl
