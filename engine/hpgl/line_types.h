// Line types: dashes, gaps and dots of the pen-down lines, and tick marks (LT, TL, XT, YT).
#pragma once

#include "engine/hpgl/reader.h"
#include "engine/records.h"

namespace ostrelin::hpgl {

// A line needing more pattern periods than this (a pattern length of 0 included) is drawn solid.
constexpr double kMaxPatternPeriods = 100000.0;

// Draws a pen-down line from the previous output point to (x, y), plotter units, with the effective
// line type, into the plot command file.
void DrawLine(Context& ctx, float x, float y);

// Command handlers.
void LineType(Interp& in);          // LT
void TickLength(Interp& in);        // TL
void Tick(Interp& in, bool xTick);  // XT, YT

}  // namespace ostrelin::hpgl
