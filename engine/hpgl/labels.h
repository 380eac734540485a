// Labels: the label state and its stepping, drawing characters, labels and symbols with the stroke
// font, the label origin rules, and the label commands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/hpgl/reader.h"
#include "engine/records.h"

namespace ostrelin::hpgl {

// Kinds of Draw label: 0 counts the current line (LB, CP), 1 the whole text (PB), 2 keeps the
// counts of an earlier kind 1.
constexpr int kLabelLine = 0;
constexpr int kLabelWhole = 1;
constexpr int kLabelKeep = 2;

// Label state to its defaults: size from P1, P2, no extra space, direction, slant or set; origin
// 1; pen and line start at the current plotter position. The standard and alternate sets stay.
void ResetLabels(Context& ctx);

// Derives the cell, line, glyph steps and advances from size, direction, slant and extra space.
void RecomputeLabelGeometry(Context& ctx);

// A carriage return takes the pen back to the current plotter position from now on.
void SetLabelLineStart(Context& ctx);

// Draws one glyph at the label pen and advances the pen by one cell.
void DrawCharacter(Context& ctx, Job& job, int code);

// Draws one glyph centred on the current plotter position (symbol mode) and leaves the pen there.
void DrawSymbol(Context& ctx, Job& job, int code);

// Draws a text from the current plotter position with the control characters of labels.
void DrawLabel(Context& ctx, Job& job, const uint8_t* text, size_t length, int kind);

// Command handlers.
void CharacterSize(Interp& in, bool relative);  // SI, SR
void Direction(Interp& in, bool relative);      // DI, DR
void CharacterSlant(Interp& in);                // SL
void ExtraSpace(Interp& in);                    // ES
void LabelOrigin(Interp& in);                   // LO
void CharacterSet(Interp& in);                  // CS
void AlternateSet(Interp& in);                  // CA
void SelectStandardSet(Interp& in);             // SS
void SelectAlternateSet(Interp& in);            // SA
void VerticalLabels(Interp& in);                // DV
void Label(Interp& in);                         // LB
void PrintBuffer(Interp& in);                   // PB
void CharacterPlot(Interp& in);                 // CP
void UserCharacter(Interp& in);                 // UC

}  // namespace ostrelin::hpgl
