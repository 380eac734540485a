// Stroke scripts: the vector calls of the rendering road written as text, one call per line.
//
//   colour N    select colour class N        (ostrelinGnfToTdSetIndexColor; the engine keeps N's low byte)
//   pu X Y      move with the pen up to X, Y (ostrelinGnfToTdPu2dA)
//   pd X Y      draw with the pen down to X, Y (ostrelinGnfToTdPd2dA)
//   eof         end of the strokes           (ostrelinGnfToTdEof)
//   # text      a comment, anywhere on a line up to its end; blank lines are ignored
//
// Keywords are lower case; fields are separated by spaces or tabs. N is a signed 32-bit integer. X and Y
// are decimal numbers (such as 120, -3.5 or 1e3) that fit a 32-bit float, in the units the engine takes
// for the machine kind of the settings: dots at the vector resolution for machine kinds 0, 1 and 4,
// hundredths of a millimetre for kinds 5 and 11, plotter units of 0.025 mm for the others.
// Nothing may follow eof. A script with strokes but no eof gets one after its last stroke; a script with
// no call at all is an empty page and makes no vector call.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace ostrelin::tools {

struct StrokeCommand {
  enum class Kind { kColour, kPenUp, kPenDown, kEof };
  Kind kind;
  float x = 0;
  float y = 0;
  int32_t colour = 0;
  int line = 0;  // 1-based line of the script; 0 for the eof added after the last stroke
};

// The calls a script makes, in order, with the eof added when due. A malformed line is refused with a
// UsageError "name:line: what is wrong".
std::vector<StrokeCommand> ParseStrokeScript(std::istream& in, const std::string& name);

}  // namespace ostrelin::tools
