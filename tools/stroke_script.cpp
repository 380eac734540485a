// Stroke scripts: parsing one call per line.
#include "tools/stroke_script.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

// The fields of a line, without its comment.
std::vector<std::string_view> Fields(std::string_view line) {
  const size_t comment = line.find('#');
  if (comment != std::string_view::npos) line = line.substr(0, comment);
  std::vector<std::string_view> fields;
  size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && isSpace(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !isSpace(line[i])) ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

class LineParser {
 public:
  LineParser(const std::string& name, int line) : where_(name + ":" + std::to_string(line) + ": ") {}

  [[noreturn]] void Refuse(const std::string& what) const { throw UsageError(where_ + what); }

  float Coordinate(std::string_view text) const {
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
      Refuse("coordinate " + std::string(text) + " is out of range");
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
      Refuse("\"" + std::string(text) + "\" is not a number");
    }
    return value;
  }

  int32_t Colour(std::string_view text) const {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) Refuse("colour " + std::string(text) + " is out of range");
    if (error != std::errc() || end != text.data() + text.size()) {
      Refuse("\"" + std::string(text) + "\" is not an integer");
    }
    return value;
  }

  void ExpectFields(const std::vector<std::string_view>& fields, size_t count, const char* usage) const {
    if (fields.size() != count) Refuse(std::string("expected \"") + usage + "\"");
  }

 private:
  std::string where_;
};

}  // namespace

std::vector<StrokeCommand> ParseStrokeScript(std::istream& in, const std::string& name) {
  std::vector<StrokeCommand> commands;
  bool ended = false;
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    const std::vector<std::string_view> fields = Fields(text);
    if (fields.empty()) continue;
    const LineParser parser(name, line);
    if (ended) parser.Refuse("nothing may follow eof");
    const std::string_view keyword = fields[0];
    StrokeCommand command{};
    command.line = line;
    if (keyword == "pu" || keyword == "pd") {
      parser.ExpectFields(fields, 3, keyword == "pu" ? "pu X Y" : "pd X Y");
      command.kind = keyword == "pu" ? StrokeCommand::Kind::kPenUp : StrokeCommand::Kind::kPenDown;
      command.x = parser.Coordinate(fields[1]);
      command.y = parser.Coordinate(fields[2]);
    } else if (keyword == "colour" || keyword == "color") {
      parser.ExpectFields(fields, 2, "colour N");
      command.kind = StrokeCommand::Kind::kColour;
      command.colour = parser.Colour(fields[1]);
    } else if (keyword == "eof") {
      parser.ExpectFields(fields, 1, "eof");
      command.kind = StrokeCommand::Kind::kEof;
      ended = true;
    } else {
      parser.Refuse("unknown command \"" + std::string(keyword) + "\" (expected colour, pu, pd or eof)");
    }
    commands.push_back(command);
  }
  if (in.bad()) throw Failure(name + ": read error");
  if (!ended && !commands.empty()) commands.push_back(StrokeCommand{StrokeCommand::Kind::kEof});
  return commands;
}

}  // namespace ostrelin::tools
