// The HPGL page driver: the main loop over the spool buffer, the command table, the engraver's "!"
// commands, and the small commands that need no module of their own.
#include "engine/hpgl/page_driver.h"

#include <cmath>

#include "engine/hpgl/arcs.h"
#include "engine/hpgl/encoded_polyline.h"
#include "engine/hpgl/labels.h"
#include "engine/hpgl/line_types.h"
#include "engine/hpgl/plot_file.h"
#include "engine/hpgl/plotter_state.h"
#include "engine/hpgl/polygons.h"
#include "engine/hpgl/raster_escape.h"
#include "engine/hpgl/reader.h"

namespace ostrelin::hpgl {
namespace {

constexpr int32_t kSrcCopy = 0xCC0020;

// Command code: first letter in the high byte, second in the low byte, case folded by 0xDFDF.
constexpr int Code(int first, int second) { return ((first << 8) | second) & 0xDFDF; }

// PG, AF, AH: the page ends at the command followed directly by ";".
void PageEnd(Interp& in) {
  if (in.Next() == ';') {
    in.ctx.pageEndFlag = 1;
  } else {
    in.PutBack();
  }
}

// MC [mode [, operation]]: raster merge operation.
void MergeControl(Interp& in) {
  float v[2];
  const int count = in.ReadNumbers(v, 2);
  in.ctx.rasterOperation = count < 2 || v[0] == 0.0f ? kSrcCopy : RasterOperationCode(TruncToInt(v[1]));
}

// TR [n]: transparency; only "TR0" makes white source pixels opaque.
void Transparency(Interp& in) {
  float n;
  const bool given = in.ReadNumber(&n);
  in.spool.opaqueSource = given && n == 0.0f ? 1 : 0;
}

// VS [speed]: the speed goes to the plot command file.
void VelocitySelect(Interp& in) {
  float speed;
  if (in.ReadNumber(&speed)) WriteValueRecord(in.ctx, kOpVelocity, speed);
}

// ZM x, y, z: a point in three dimensions (z pointing down), unscaled and unrotated.
void ThreeDimensionalPoint(Interp& in) {
  Context& ctx = in.ctx;
  float v[3];
  if (in.ReadNumbers(v, 3) < 3) return;
  float x = v[0];
  float y = v[1];
  float z = -v[2];
  if (ctx.relativeFlag != 0) {
    x += ctx.userX;
    y += ctx.userY;
    z += ctx.userZ;
  }
  ctx.plotterX = ctx.plotterUnrotatedX = x;
  ctx.plotterY = ctx.plotterUnrotatedY = y;
  ctx.userX = x;
  ctx.userY = y;
  ctx.userZ = z;
  WriteOpcode(ctx, kOpPoint3d);
  WritePoint3d(ctx, x, y, z);
}

// ZS x1, y1, x2, y2, x3, y3: pen-down lines to the second and the third point.
void TwoLines(Interp& in) {
  Context& ctx = in.ctx;
  float v[6];
  if (in.ReadNumbers(v, 6) < 6) return;
  const bool scale = ctx.scalingFlag != 0;
  OutputPoint(ctx, in.job, kPointPenDown, v[2], v[3], scale);
  OutputPoint(ctx, in.job, kPointPenDown, v[4], v[5], scale);
}

// SM c: symbol mode with the first printable character, off at CR or ";".
void SymbolMode(Interp& in) {
  for (;;) {
    const int c = in.Next();
    if (c == '\r' || c == ';') {
      in.ctx.symbolCharacter = 0;
      return;
    }
    if ((c >= '!' && c <= ':') || (c >= '<' && c <= '~')) {
      in.ctx.symbolCharacter = static_cast<uint8_t>(c);
      return;
    }
  }
}

// The engraver's own commands, after "!".
void BangCommand(Interp& in) {
  Context& ctx = in.ctx;
  int code;
  const int first = in.Next();
  if (first < 'A') {
    in.PutBack();
    code = Code('M', 'C');
  } else {
    code = Code(first, in.Next());
  }
  float v[2];
  switch (code) {
    case Code('D', 'R'):
      if (in.ReadNumber(&v[0])) WriteValueRecord(ctx, kOpDepthRate, v[0] / 10.0f);
      return;
    case Code('J', 'H'):
      // The separator after the count, then count bytes of data, are passed over unread.
      if (in.ReadNumber(&v[0])) in.Skip(static_cast<int64_t>(TruncToInt(v[0])) + 1);
      return;
    case Code('L', 'B'):
    case Code('L', 'R'):
      ctx.labelTerminator = ';';
      in.ReadText();
      ctx.labelText[--ctx.labelLength] = 0;
      WriteOpcode(ctx, kOpText);
      WriteText(ctx, reinterpret_cast<const char*>(ctx.labelText));
      if (code == Code('L', 'B')) WriteValueRecord(ctx, kOpLabelFlag, 1.0f);
      return;
    case Code('M', 'C'):
      if (in.ReadNumber(&v[0])) WriteValueRecord(ctx, kOpMachineCode, v[0]);
      return;
    case Code('N', 'R'):
      WriteValueRecord(ctx, kOpLabelFlag, 0.0f);
      return;
    case Code('O', 'P'):
    case Code('O', 'T'):
      WriteOpcode(ctx, kOpOutput);
      return;
    case Code('P', 'Z'): {
      const int count = in.ReadNumbers(v, 2);
      if (count >= 1) WriteValueRecord(ctx, kOpZoneFirst, std::fabs(v[0]));
      if (count == 2) WriteValueRecord(ctx, kOpZoneSecond, std::fabs(v[1]));
      return;
    }
    case Code('V', 'Z'):
      if (in.ReadNumber(&v[0])) WriteValueRecord(ctx, kOpZValue, v[0]);
      return;
    default:
      Trace("Unknown ! command: %c%c\n", code >> 8, code & 0xFF);
      return;
  }
}

// Runs the command whose first letter has been taken.
void DispatchCommand(Interp& in, int first) {
  Context& ctx = in.ctx;
  const int second = in.Next();
  int code;
  if (second >= 65 && second <= 122) {
    code = Code(first, second);
  } else {
    in.PutBack();
    const int letter = first & 0xDF;
    if (letter == 'V') {
      code = Code('V', 'S');
    } else if (letter == 'Z') {
      code = Code('Z', 'M');
    } else {
      Trace("Unknown command: %c\n", first);
      return;
    }
  }
  switch (code) {
    // Plotting and plotter state.
    case Code('P', 'A'):
      PlotPairs(in, 'A');
      SetLabelLineStart(ctx);
      return;
    case Code('P', 'D'):
      PlotPairs(in, 'D');
      SetLabelLineStart(ctx);
      return;
    case Code('P', 'U'):
      PlotPairs(in, 'U');
      SetLabelLineStart(ctx);
      return;
    case Code('P', 'R'):
      PlotPairs(in, 'R');
      SetLabelLineStart(ctx);
      return;
    case Code('S', 'P'):
      SelectPenCommand(in);
      return;
    case Code('I', 'N'):
    case Code('D', 'F'):
    case Code('B', 'P'):
      ResetPlotter(ctx, in.job);
      SetLabelLineStart(ctx);
      return;
    case Code('I', 'P'):
      InputP1P2(in);
      return;
    case Code('S', 'C'):
      Scale(in);
      return;
    case Code('I', 'W'):
      InputWindow(in);
      return;
    case Code('R', 'O'):
      RotateCoordinates(in);
      return;
    case Code('P', 'S'):
      PlotSize(in);
      return;
    case Code('P', 'C'):
      PenColour(in);
      return;
    case Code('N', 'P'):
      NumberOfPens(in);
      return;
    case Code('L', 'T'):
      LineType(in);
      return;
    case Code('T', 'L'):
      TickLength(in);
      return;
    case Code('X', 'T'):
      Tick(in, true);
      return;
    case Code('Y', 'T'):
      Tick(in, false);
      return;
    // Page end and the commands handled here.
    case Code('P', 'G'):
    case Code('A', 'F'):
    case Code('A', 'H'):
      PageEnd(in);
      return;
    case Code('M', 'C'):
      MergeControl(in);
      return;
    case Code('T', 'R'):
      Transparency(in);
      return;
    case Code('V', 'S'):
      VelocitySelect(in);
      return;
    case Code('Z', 'M'):
      ThreeDimensionalPoint(in);
      return;
    case Code('Z', 'S'):
      TwoLines(in);
      return;
    case Code('O', 'P'):
      Trace("\nP1 = (%g, %g)\n", static_cast<double>(ctx.p1X), static_cast<double>(ctx.p1Y));
      Trace("P2 = (%g, %g)\n", static_cast<double>(ctx.p2X), static_cast<double>(ctx.p2Y));
      return;
    case Code('M', 'G'):
    case Code('W', 'D'):
      in.ReadText();
      Trace("\nLABEL: %s\n", reinterpret_cast<const char*>(ctx.labelText));
      return;
    case Code('B', 'L'):
      in.ReadText();
      return;
    case Code('D', 'T'):
      ctx.labelTerminator = static_cast<uint8_t>(in.Next());
      return;
    case Code('S', 'M'):
      SymbolMode(in);
      return;
    // Parameters are left to the main loop, which passes over them.
    case Code('A', 'C'):
    case Code('Z', 'D'):
    case Code('F', 'T'):
    case Code('P', 'W'):
      return;
    // Labels.
    case Code('L', 'B'):
      Label(in);
      return;
    case Code('P', 'B'):
      PrintBuffer(in);
      return;
    case Code('C', 'P'):
      CharacterPlot(in);
      return;
    case Code('S', 'I'):
      CharacterSize(in, false);
      return;
    case Code('S', 'R'):
      CharacterSize(in, true);
      return;
    case Code('D', 'I'):
      Direction(in, false);
      return;
    case Code('D', 'R'):
      Direction(in, true);
      return;
    case Code('S', 'L'):
      CharacterSlant(in);
      return;
    case Code('E', 'S'):
      ExtraSpace(in);
      return;
    case Code('L', 'O'):
      LabelOrigin(in);
      return;
    case Code('C', 'S'):
      CharacterSet(in);
      return;
    case Code('C', 'A'):
      AlternateSet(in);
      return;
    case Code('S', 'S'):
      SelectStandardSet(in);
      return;
    case Code('S', 'A'):
      SelectAlternateSet(in);
      return;
    case Code('D', 'V'):
      VerticalLabels(in);
      return;
    case Code('U', 'C'):
      UserCharacter(in);
      return;
    // Curves, outlines and encoded polylines.
    case Code('A', 'A'):
      Arc(in, false);
      SetLabelLineStart(ctx);
      return;
    case Code('A', 'R'):
      Arc(in, true);
      SetLabelLineStart(ctx);
      return;
    case Code('E', 'A'):
      EdgeRectangle(in);
      SetLabelLineStart(ctx);
      return;
    case Code('C', 'I'):
      Circle(in);
      return;
    case Code('E', 'W'):
      EdgeWedge(in);
      return;
    case Code('Z', 'C'):
      ThreePointArc(in);
      return;
    case Code('P', 'E'):
      EncodedPolyline(in);
      return;
    // Polygons and fills.
    case Code('P', 'M'):
      PolygonMode(in);
      return;
    case Code('E', 'P'):
      EdgePolygon(in);
      return;
    case Code('F', 'P'):
      FillPolygon(in);
      return;
    case Code('R', 'R'):
      FillRectangle(in);
      return;
    default:
      // Not a command: the second character may start the next one.
      in.PutBack();
      Trace("Unknown command: %c%c\n", first, second);
      return;
  }
}

}  // namespace

void RunPageDriver(Context& ctx, Spool& spool, Job& job) {
  spool.stopFlag = 0;
  {
    Interp in(ctx, spool, job);
    while (spool.stopFlag == 0) {
      const int c = in.NextAtCommandLevel();
      if (IsLetter(c)) {
        DispatchCommand(in, c);
      } else if (c == kEsc) {
        ReadEscape(in);
      } else if (c == '!') {
        BangCommand(in);
      }
    }
  }
  spool.stopFlag = 0;
}

}  // namespace ostrelin::hpgl
