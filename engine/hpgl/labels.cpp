// Labels drawn with the stroke font.
#include "engine/hpgl/labels.h"

#include <cmath>

#include "engine/hpgl/plotter_state.h"
#include "engine/hpgl/stroke_font.h"

namespace ostrelin::hpgl {
namespace {

constexpr int kBackspace = 8;
constexpr int kTab = 9;
constexpr int kLineFeed = 10;
constexpr int kVerticalTab = 11;
constexpr int kCarriageReturn = 13;
constexpr int kShiftOut = 14;
constexpr int kShiftIn = 15;

// Character size of SI without parameters, centimetres; SI sizes are centimetres.
constexpr float kDefaultWidthCm = 0.187f;
constexpr float kDefaultHeightCm = 0.269f;
constexpr float kPlotterUnitsPerCm = 400.0f;
// Character size of SR without parameters, percent of the P1-P2 extents.
constexpr float kDefaultWidthPercent = 0.75f;
constexpr float kDefaultHeightPercent = 1.5f;

// The current plotter position as it was before the rotation of RO. Labels start there: the point
// output rotates every glyph point, and a start taken after the rotation would be rotated twice.
void LabelStart(const Context& ctx, float* x, float* y) {
  *x = ctx.rotationFlag != 0 ? ctx.plotterUnrotatedX : ctx.plotterX;
  *y = ctx.rotationFlag != 0 ? ctx.plotterUnrotatedY : ctx.plotterY;
}

// The glyph of a code in the current set; codes that have none there become a space.
const uint8_t* ChooseGlyph(const Context& ctx, int code, int* set) {
  const int current = ctx.label.currentSet;
  if (current == 0) {
    *set = code >= kGlyphsPerSet ? 7 : 0;
    return GlyphStrokes(*set, code % kGlyphsPerSet);
  }
  if (current < 0 || current >= kFontSets) {
    Trace("Charset %d not supported -- replaced by blank!\n", current);
    *set = 0;
    return GlyphStrokes(0, ' ');
  }
  *set = current;
  if (code >= kGlyphsPerSet) {
    Trace("Illegal char in string: %d = %c replaced by blank!\n", code, code);
    return GlyphStrokes(current, ' ');
  }
  return GlyphStrokes(current, code);
}

// Strokes a glyph at pen + origin offset: moves pen up, draws pen down, without scaling. With
// clipping on, the first point outside the window turns the rest of the glyph into moves.
void StrokeGlyph(Context& ctx, Job& job, const uint8_t* strokes) {
  const auto& label = ctx.label;
  bool left = false;
  for (; *strokes != 0; ++strokes) {
    const int gx = StrokeX(*strokes);
    const int gy = StrokeY(*strokes);
    const auto x = static_cast<float>(static_cast<double>(label.pen[0] + label.originOffset[0]) +
                                      gx * label.glyphXStep[0] + gy * label.glyphYStep[0]);
    const auto y = static_cast<float>(static_cast<double>(label.pen[1] + label.originOffset[1]) +
                                      gx * label.glyphXStep[1] + gy * label.glyphYStep[1]);
    if (ctx.clippingFlag != 0 && !left) {
      left = ctx.p1X + x > ctx.clipX2 || ctx.p1Y + y > ctx.clipY2 || ctx.p1X + x < ctx.clipX1 ||
             ctx.p1Y + y < ctx.clipY1;
    }
    const bool draw = StrokeIsDraw(*strokes) && !left;
    OutputPoint(ctx, job, draw ? kPointPenDown : kPointPenUp, x, y, false);
  }
}

void MovePen(Context& ctx, const float (&step)[2], float times) {
  ctx.label.pen[0] += step[0] * times;
  ctx.label.pen[1] += step[1] * times;
}

// Counts the characters of a line (kind 0: up to the first CR) or of the whole text (kind 1: the
// longest line and the lines) for the label origin rules. BS takes a character back, HT half.
void CountLabel(Context& ctx, const uint8_t* text, size_t length, int kind) {
  auto& label = ctx.label;
  label.lineChars = 0.0f;
  if (kind == kLabelWhole) {
    label.lines = 0.0f;
    label.longestLine = 0.0f;
  }
  for (size_t i = 0; i < length; ++i) {
    const int c = text[i];
    if (c >= 32 && c <= 127) {
      label.lineChars += 1.0f;
    } else if (c == kBackspace) {
      label.lineChars -= 1.0f;
    } else if (c == kTab) {
      label.lineChars -= 0.5f;
    } else if (c == kCarriageReturn) {
      if (kind == kLabelLine) return;
      label.longestLine = std::fmax(label.longestLine, label.lineChars);
      label.lineChars = 0.0f;
    } else if (kind == kLabelWhole && c == kLineFeed) {
      label.lines += 1.0f;
    } else if (kind == kLabelWhole && c == kVerticalTab) {
      label.lines -= 1.0f;
    }
  }
  if (kind == kLabelWhole) {
    label.longestLine = std::fmax(label.longestLine, label.lineChars);
    label.lineChars = label.longestLine;
  }
}

/* Label origin rules. The label origin (LO) names a point of the label's box: 1, 2, 3 left
 * (bottom, centre, top), 4, 5, 6 centre, 7, 8, 9 right; 11 to 19 the same, set off by a fraction of
 * a cell. The pen moves back along the direction by the part of the line before that point and,
 * for whole texts, across it by the lines; the origin offset, in cells (fx) and lines (fy), places
 * the glyphs around the point. */
void ApplyLabelOrigin(Context& ctx, const uint8_t* text, size_t length, int kind) {
  if (kind != kLabelKeep) CountLabel(ctx, text, length, kind);
  auto& label = ctx.label;
  const int origin = label.origin;
  const float n = label.lineChars;
  const float m = label.lines;
  float fx = 0.0f;
  if ((origin >= 4 && origin <= 6) || (origin >= 14 && origin <= 16)) {
    MovePen(ctx, label.charAdvance, -n / 2.0f);
    fx = 0.16666667f;
  } else if (origin >= 7 && origin <= 9) {
    MovePen(ctx, label.charAdvance, -n);
    fx = 0.33333334f;
  } else if (origin >= 11 && origin <= 13) {
    fx = 0.33333334f;
  } else if (origin >= 17 && origin <= 19) {
    MovePen(ctx, label.charAdvance, -n);
    fx = 1e-9f;
  }
  const bool movesAcross = kind != kLabelLine;
  float fy = 0.0f;
  float across = 0.0f;  // line advances the pen moves by
  switch (origin % 10) {
    case 1:
    case 4:
    case 7:
      fy = origin > 10 ? 0.33333334f : 0.0f;
      across = -m;
      break;
    case 2:
    case 5:
    case 8:
      fy = -0.33333334f;
      across = -m / 2.0f;
      break;
    default:
      fy = origin > 10 ? -1.0f : -0.6666667f;
      across = m - 1.0f;
      break;
  }
  if (movesAcross) MovePen(ctx, label.lineAdvance, across);
  label.originOffset[0] = label.charAdvance[0] * fx - label.lineAdvance[0] * fy;
  label.originOffset[1] = label.charAdvance[1] * fx - label.lineAdvance[1] * fy;
}

// Reads an optional pair; one value alone is "Syntax 2 error". Returns whether the pair was given.
bool ReadPair(Interp& in, float* first, float* second) {
  float v[2];
  const int count = in.ReadNumbers(v, 2);
  if (count == 1) Fail(in.ctx, ErrorKind::kSyntax2);
  *first = v[0];
  *second = v[1];
  return count == 2;
}

// The set number of CS and CA: the value truncated, 0 without one.
int32_t ReadSet(Interp& in) {
  float value;
  return in.ReadNumber(&value) ? TruncToInt(value) : 0;
}

}  // namespace

void ResetLabels(Context& ctx) {
  auto& label = ctx.label;
  ctx.labelWidth = 0.005f * (ctx.p2X - ctx.p1X);
  ctx.labelHeight = 0.0075f * (ctx.p2Y - ctx.p1Y);
  label.extraSpaces = 0.0f;
  label.extraLines = 0.0f;
  label.direction = 0.0f;
  label.slant = 0.0f;
  label.currentSet = 0;
  label.origin = 1;
  LabelStart(ctx, &label.pen[0], &label.pen[1]);
  label.lineStart[0] = label.pen[0];
  label.lineStart[1] = label.pen[1];
  label.originOffset[0] = 0.0f;
  label.originOffset[1] = 0.0f;
  RecomputeLabelGeometry(ctx);
}

void RecomputeLabelGeometry(Context& ctx) {
  auto& label = ctx.label;
  label.cellWidth = 1.5f * ctx.labelWidth;
  label.lineHeight = 2.0f * ctx.labelHeight;
  const double c = std::cos(static_cast<double>(label.direction));
  const double s = std::sin(static_cast<double>(label.direction));
  const double width = ctx.labelWidth;
  const double height = ctx.labelHeight;
  const double slant = label.slant;
  label.glyphXStep[0] = width * c / 4.0;
  label.glyphXStep[1] = width * s / 4.0;
  label.glyphYStep[0] = height * (slant * c - s) / 6.0;
  label.glyphYStep[1] = height * (slant * s + c) / 6.0;
  const double cell = static_cast<double>(label.cellWidth) * (1.0 + static_cast<double>(label.extraSpaces));
  const double line = static_cast<double>(label.lineHeight) * (1.0 + static_cast<double>(label.extraLines));
  label.charAdvance[0] = static_cast<float>(cell * c);
  label.charAdvance[1] = static_cast<float>(cell * s);
  label.lineAdvance[0] = static_cast<float>(line * s);
  label.lineAdvance[1] = static_cast<float>(-line * c);
}

void SetLabelLineStart(Context& ctx) { LabelStart(ctx, &ctx.label.lineStart[0], &ctx.label.lineStart[1]); }

void DrawCharacter(Context& ctx, Job& job, int code) {
  ctx.effectiveLineType = 7;
  int set = 0;
  const uint8_t* strokes = ChooseGlyph(ctx, code, &set);
  if (code < kGlyphsPerSet && IsNonSpacing(set, code)) MovePen(ctx, ctx.label.charAdvance, -1.0f);
  StrokeGlyph(ctx, job, strokes);
  MovePen(ctx, ctx.label.charAdvance, 1.0f);
  ctx.effectiveLineType = ctx.selectedLineType;
}

void DrawSymbol(Context& ctx, Job& job, int code) {
  auto& label = ctx.label;
  const uint8_t* strokes;
  const int current = label.currentSet;
  if (current == 0) {
    if (code >= kGlyphsPerSet) Trace("8bit character mapped to charset 7\n");
    strokes = GlyphStrokes(code >= kGlyphsPerSet ? 7 : 0, code % kGlyphsPerSet);
  } else if (current == 5 || current == 7) {
    if (code >= kGlyphsPerSet) Trace("Illegal char in string: %d = %c replaced by blank!\n", code, code);
    strokes = GlyphStrokes(current, code >= kGlyphsPerSet ? ' ' : code);
  } else {
    Trace("Charset %d not supported -- replaced by blank!\n", current);
    strokes = GlyphStrokes(0, ' ');
  }
  // The glyph is centred on the average of its points.
  double sumX = 0.0;
  double sumY = 0.0;
  int points = 0;
  for (const uint8_t* s = strokes; *s != 0; ++s, ++points) {
    sumX += StrokeX(*s) * label.glyphXStep[0] + StrokeY(*s) * label.glyphYStep[0];
    sumY += StrokeX(*s) * label.glyphXStep[1] + StrokeY(*s) * label.glyphYStep[1];
  }
  label.originOffset[0] = points == 0 ? 0.0f : static_cast<float>(-sumX / points);
  label.originOffset[1] = points == 0 ? 0.0f : static_cast<float>(-sumY / points);
  float centreX;
  float centreY;
  LabelStart(ctx, &centreX, &centreY);
  label.pen[0] = centreX;
  label.pen[1] = centreY;
  DrawCharacter(ctx, job, code);
  OutputPoint(ctx, job, kPointPenUp, centreX, centreY, false);
}

void DrawLabel(Context& ctx, Job& job, const uint8_t* text, size_t length, int kind) {
  auto& label = ctx.label;
  LabelStart(ctx, &label.pen[0], &label.pen[1]);
  ApplyLabelOrigin(ctx, text, length, kind);
  const bool vertical = label.verticalFlag != 0;
  for (size_t i = 0; i < length; ++i) {
    const int c = text[i];
    switch (c) {
      case kBackspace:
        MovePen(ctx, label.charAdvance, -1.0f);
        break;
      case kTab:
        MovePen(ctx, label.charAdvance, -0.5f);
        break;
      case kLineFeed:
        label.lineStart[0] += label.lineAdvance[0];
        label.pen[0] += label.lineAdvance[0];
        if (vertical) {
          label.pen[1] -= label.lineAdvance[1];
        } else {
          label.lineStart[1] += label.lineAdvance[1];
          label.pen[1] += label.lineAdvance[1];
        }
        break;
      case kVerticalTab:
        label.lineStart[0] -= label.lineAdvance[0];
        label.lineStart[1] -= label.lineAdvance[1];
        MovePen(ctx, label.lineAdvance, -1.0f);
        break;
      case kCarriageReturn:
        if (vertical) label.lineStart[1] -= label.lineAdvance[1];
        label.pen[0] = label.lineStart[0];
        label.pen[1] = label.lineStart[1];
        if (kind == kLabelLine) {
          ApplyLabelOrigin(ctx, text + i + 1, length - i - 1, kLabelLine);
        } else {
          ApplyLabelOrigin(ctx, text, length, kLabelKeep);
        }
        break;
      case kShiftOut:
        if (label.alternateSet != 0) label.currentSet = label.alternateSet;
        break;
      case kShiftIn:
        label.currentSet = label.standardSet;
        break;
      case ' ':
        MovePen(ctx, label.charAdvance, 1.0f);
        break;
      default:
        DrawCharacter(ctx, job, c);
        break;
    }
    if (vertical) {
      label.pen[0] -= label.charAdvance[0];
      label.pen[1] += label.lineAdvance[1];
    }
    OutputPoint(ctx, job, kPointPenUp, label.pen[0], label.pen[1], false);
  }
}

void CharacterSize(Interp& in, bool relative) {
  Context& ctx = in.ctx;
  float width;
  float height;
  if (!ReadPair(in, &width, &height)) {
    width = relative ? kDefaultWidthPercent : kDefaultWidthCm;
    height = relative ? kDefaultHeightPercent : kDefaultHeightCm;
  } else if (width == 0.0f || height == 0.0f) {
    Fail(ctx, ErrorKind::kSyntax);
  }
  if (relative) {
    ctx.labelWidth = width * (ctx.p2X - ctx.p1X) / 100.0f;
    ctx.labelHeight = height * (ctx.p2Y - ctx.p1Y) / 100.0f;
  } else {
    ctx.labelWidth = width * kPlotterUnitsPerCm;
    ctx.labelHeight = height * kPlotterUnitsPerCm;
  }
  RecomputeLabelGeometry(ctx);
}

void Direction(Interp& in, bool relative) {
  Context& ctx = in.ctx;
  float run;
  float rise;
  if (!ReadPair(in, &run, &rise)) {
    ctx.label.direction = 0.0f;
  } else {
    if (run == 0.0f && rise == 0.0f) Fail(ctx, ErrorKind::kSyntax);
    if (relative) {
      run *= ctx.p2X - ctx.p1X;
      rise *= ctx.p2Y - ctx.p1Y;
    }
    ctx.label.direction = std::atan2(rise, run);
  }
  SetLabelLineStart(ctx);
  RecomputeLabelGeometry(ctx);
}

void CharacterSlant(Interp& in) {
  float tangent;
  in.ctx.label.slant = in.ReadNumber(&tangent) ? tangent : 0.0f;
  RecomputeLabelGeometry(in.ctx);
}

void ExtraSpace(Interp& in) {
  float v[2] = {0.0f, 0.0f};
  in.ReadNumbers(v, 2);
  in.ctx.label.extraSpaces = v[0];
  in.ctx.label.extraLines = v[1];
  RecomputeLabelGeometry(in.ctx);
}

void LabelOrigin(Interp& in) {
  float value;
  int32_t origin = in.ReadNumber(&value) ? TruncToInt(value) : 1;
  if (origin < 1 || origin == 10 || origin > 19) origin = 1;
  in.ctx.label.origin = origin;
  RecomputeLabelGeometry(in.ctx);
}

void CharacterSet(Interp& in) {
  const int32_t set = ReadSet(in);
  in.ctx.label.currentSet = set;
  in.ctx.label.standardSet = set;
}

void AlternateSet(Interp& in) { in.ctx.label.alternateSet = ReadSet(in); }

void SelectStandardSet(Interp& in) { in.ctx.label.currentSet = in.ctx.label.standardSet; }

void SelectAlternateSet(Interp& in) { in.ctx.label.currentSet = in.ctx.label.alternateSet; }

void VerticalLabels(Interp& in) {
  float n;
  in.ctx.label.verticalFlag = in.ReadNumber(&n) && n != 0.0f ? 1 : 0;
}

void Label(Interp& in) {
  Context& ctx = in.ctx;
  in.ReadText();
  DrawLabel(ctx, in.job, ctx.labelText, static_cast<size_t>(ctx.labelLength), kLabelLine);
  LabelStart(ctx, &ctx.userX, &ctx.userY);
  if (ctx.scalingFlag != 0) ToUser(ctx, &ctx.userX, &ctx.userY);
}

void PrintBuffer(Interp& in) {
  Context& ctx = in.ctx;
  if (ctx.labelText == nullptr) return;
  DrawLabel(ctx, in.job, ctx.labelText, static_cast<size_t>(ctx.labelLength), kLabelWhole);
}

void CharacterPlot(Interp& in) {
  Context& ctx = in.ctx;
  float spaces;
  float lines;
  if (!ReadPair(in, &spaces, &lines)) {
    static constexpr uint8_t kNewLine[] = {kLineFeed, kCarriageReturn};
    DrawLabel(ctx, in.job, kNewLine, sizeof kNewLine, kLabelLine);
    return;
  }
  const auto& label = ctx.label;
  float x;
  float y;
  LabelStart(ctx, &x, &y);
  OutputPoint(ctx, in.job, kPointPenUp, x + spaces * label.charAdvance[0] - lines * label.lineAdvance[0],
              y + spaces * label.charAdvance[1] - lines * label.lineAdvance[1], false);
}

/* UC: a character drawn from grid steps. Values of 99 or more put the pen down, -99 or less lift
 * it; any other value a is a step with the next value b: a glyph x steps along the baseline and
 * 2b/3 glyph y steps up. */
void UserCharacter(Interp& in) {
  Context& ctx = in.ctx;
  auto& label = ctx.label;
  LabelStart(ctx, &label.pen[0], &label.pen[1]);
  ctx.effectiveLineType = 7;
  double x = static_cast<double>(label.pen[0]) + label.originOffset[0];
  double y = static_cast<double>(label.pen[1]) + label.originOffset[1];
  bool down = false;
  float a;
  float b;
  while (in.ReadNumber(&a)) {
    if (a >= 99.0f) {
      down = true;
    } else if (a <= -99.0f) {
      down = false;
    } else {
      if (!in.ReadNumber(&b)) break;
      const double up = 2.0 * static_cast<double>(b) / 3.0;
      x += a * label.glyphXStep[0] + up * label.glyphYStep[0];
      y += a * label.glyphXStep[1] + up * label.glyphYStep[1];
      OutputPoint(ctx, in.job, down ? kPointPenDown : kPointPenUp, static_cast<float>(x),
                  static_cast<float>(y), false);
    }
  }
  MovePen(ctx, label.charAdvance, 1.0f);
  OutputPoint(ctx, in.job, kPointPenUp, label.pen[0], label.pen[1], false);
  ctx.effectiveLineType = ctx.selectedLineType;
}

}  // namespace ostrelin::hpgl
