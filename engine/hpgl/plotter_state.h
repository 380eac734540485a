// Plotter state of the HPGL interpreter: page start and reset, the scaling transforms, the point
// output through which every stroke reaches the plot command file, clipping, and the commands that
// change the state (PA, PR, PD, PU, IP, SC, IW, RO, PS, SP, PC, NP).
#pragma once

#include <cstdint>

#include "engine/hpgl/reader.h"
#include "engine/records.h"

namespace ostrelin::hpgl {

// Default scaling points, plotter units.
constexpr float kDefaultP1X = 603.0f;
constexpr float kDefaultP1Y = 521.0f;
constexpr float kDefaultP2X = 10603.0f;
constexpr float kDefaultP2Y = 7721.0f;
// Pen position before the first move of a page: a value no drawing gives by chance.
constexpr float kUnsetPosition = 3.1415927f;
// Added to x of a pen-up point in the polygon buffer.
constexpr float kPolygonPenUpMark = 800000.0f;

// Kinds of the point output.
constexpr int kPointPenUp = 1;
constexpr int kPointPenDown = 2;

// Prepares the interpreter for a new page: the whole plotter state, the drawing extent from the
// (empty) page bounding box of the spool record, the page-end flag clear, the reset of IN, and the
// working row buffer of the raster intake.
void PrepareHpglState(Context& ctx, Spool& spool, Job& job);

// Releases what the interpreter state holds outside the records (the label text buffer). Called on
// every path that ends a job.
void ReleaseHpglState(Context& ctx);

// IN, DF, BP: the plotter state back to its defaults (clipping, rotation, plot size and pens stay).
void ResetPlotter(Context& ctx, Job& job);

// Scaling transform from user units to plotter units and back (no rotation).
void ToPlotter(const Context& ctx, float* x, float* y);
void ToUser(const Context& ctx, float* x, float* y);

// Rotates a plotter point by the stored rotation about the plotter origin.
void Rotate(const Context& ctx, float* x, float* y);

// Outputs one point: kind 1 pen up, 2 or 3 pen down; scaled first when scale is set, then rotated;
// into the polygon buffer in polygon mode, else to the plot command file through the line type.
void OutputPoint(Context& ctx, Job& job, int kind, float x, float y, bool scale);

// Clips the segment (x1, y1)-(x2, y2) to the window xmin..xmax, ymin..ymax in place; false when
// nothing of it is visible.
bool ClipSegment(double xmin, double ymin, double xmax, double ymax, double* x1, double* y1, double* x2,
                 double* y2);

// Colour class of a pen colour: 7 orange, 8 white, else red 1 + green 2 + blue 4.
uint8_t ColourClass(uint8_t red, uint8_t green, uint8_t blue);

// Selects a pen as SP does (also the pen selector of encoded polylines).
void SelectPen(Context& ctx, Job& job, float pen, bool given);

// Plots one absolute target in user units as PA, PR, PD and PU do: clipped to the window when clipping
// is on, drawn or moved as the pen-down flag says, with the symbol of symbol mode; the target (not
// clipped) becomes the current user position.
void PlotTarget(Context& ctx, Job& job, float x, float y);

// Command handlers.
void PlotPairs(Interp& in, int command);  // command: 'A', 'R', 'D' or 'U' (PA, PR, PD, PU)
void InputP1P2(Interp& in);               // IP
void Scale(Interp& in);                   // SC
void InputWindow(Interp& in);             // IW
void RotateCoordinates(Interp& in);       // RO
void PlotSize(Interp& in);                // PS
void SelectPenCommand(Interp& in);        // SP
void PenColour(Interp& in);               // PC
void NumberOfPens(Interp& in);            // NP

}  // namespace ostrelin::hpgl
