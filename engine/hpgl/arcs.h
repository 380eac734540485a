// Arcs, circles, wedges and rectangles (AA, AR, CI, EW, EA) and the three-point arc ZC, turned into
// chains of straight points through the point output.
#pragma once

#include "engine/hpgl/reader.h"
#include "engine/records.h"

namespace ostrelin::hpgl {

// Default chord angle, degrees.
constexpr float kDefaultChordDegrees = 5.0f;
// Chord angles are taken by magnitude and raised to at least this (degrees): a chord of 0, a negative
// one or one too small to advance the angle would never end a curve; this keeps a turn within 720
// chords.
constexpr double kMinChordDegrees = 0.5;
// A sweep of more whole turns than this loses whole turns (it still ends at the same angle), so that
// one curve writes a bounded number of points.
constexpr double kMaxSweepTurns = 100.0;

// Whether a point in user units lies outside the clipping window, with the window's corners put in
// order as for plotted pairs; never when clipping is off.
bool OutsideWindow(const Context& ctx, double x, double y);

// Centre of the circle through three points; false when there is none (the points are on a line, or
// the centre is not a finite point).
bool CircleThroughThreePoints(double ax, double ay, double bx, double by, double cx, double cy,
                              double* centreX, double* centreY);

// Command handlers.
void Arc(Interp& in, bool relative);  // AA, AR
void Circle(Interp& in);              // CI
void EdgeWedge(Interp& in);           // EW
void EdgeRectangle(Interp& in);       // EA
void ThreePointArc(Interp& in);       // ZC

}  // namespace ostrelin::hpgl
