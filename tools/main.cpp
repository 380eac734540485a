// The ostrelin command-line program: parses the command line and runs one command of the toolkit.
#include <CLI/CLI.hpp>
#include <exception>
#include <functional>
#include <iostream>
#include <string>

#include "tools/commands.h"
#include "tools/font_sheet.h"
#include "tools/render.h"
#include "tools/job_info.h"
#include "tools/preview.h"
#include "tools/print.h"
#include "tools/tool_error.h"

namespace tools = ostrelin::tools;

int main(int argc, char** argv) {
  // The dump writes millions of lines through std::cout; it needs no ordering with C stdio.
  std::ios::sync_with_stdio(false);
  CLI::App app{
      "ostrelin: turns printed pages into a laser engraver's machine job stream.\n"
      "File names may be \"-\" for standard input or output. Exit status: 0 success, 1 the work\n"
      "failed, 2 the command line or an input file is malformed.",
      "ostrelin"};
  app.set_version_flag("--version", std::string("ostrelin ") + OSTRELIN_VERSION);
  app.require_subcommand(1);
  std::function<int()> action;

  CLI::App* settings = app.add_subcommand("settings", "The driver settings record: JSON form and raw form");
  settings->require_subcommand(1);
  std::string settingsInput;
  std::string settingsOutput = "-";
  CLI::App* defaults = settings->add_subcommand("defaults", "Print the JSON settings of a sensible machine");
  defaults->add_option("-o,--output", settingsOutput, "Output file (default: standard output)");
  defaults->footer("Example:\n  ostrelin settings defaults -o machine.json");
  defaults->callback([&] { action = [&] { return tools::SettingsDefaults(settingsOutput); }; });
  CLI::App* show = settings->add_subcommand("show", "Print a settings file (JSON or raw record) as JSON");
  show->add_option("FILE", settingsInput, "Settings file")->required();
  show->add_option("-o,--output", settingsOutput, "Output file (default: standard output)");
  show->footer("Example:\n  ostrelin settings show record.bin");
  show->callback([&] { action = [&] { return tools::SettingsShow(settingsInput, settingsOutput); }; });
  CLI::App* decode = settings->add_subcommand("decode", "Print a raw settings record as JSON");
  decode->add_option("RECORD", settingsInput, "Raw settings record of 1828 bytes")->required();
  decode->add_option("-o,--output", settingsOutput, "Output file (default: standard output)");
  decode->footer("Example:\n  ostrelin settings decode record.bin -o machine.json");
  decode->callback([&] { action = [&] { return tools::SettingsDecode(settingsInput, settingsOutput); }; });
  CLI::App* encode =
      settings->add_subcommand("encode", "Write the raw settings record of a JSON settings file");
  encode->add_option("FILE", settingsInput, "JSON settings file")->required();
  encode->add_option("-o,--output", settingsOutput, "Raw record file")->required();
  encode->footer(
      "Lengths are in micrometres, resolutions in dots per inch, powers in percent, speeds in mm/s, as the\n"
      "field names say.\n\nExample:\n  ostrelin settings encode machine.json -o record.bin");
  encode->callback([&] { action = [&] { return tools::SettingsEncode(settingsInput, settingsOutput); }; });

  tools::RenderCommandArguments renderArguments;
  bool renderBits = false;
  bool renderGrey = false;
  CLI::App* render = app.add_subcommand(
      "render",
      "Run the rendering road on PNG images and a stroke script (lines \"colour N\", \"pu X Y\", \"pd X Y\",\n"
      "\"eof\", \"# comment\"). Each image pixel is one dot at the engine resolution of the settings; an\n"
      "image's transparent pixels are white. Black-and-white images go in as one-bit rows, others as grey\n"
      "rows; --bits makes every image one-bit rows, a pixel engraved when its grey (30 % red, 59 % green,\n"
      "11 % blue) is below 128.");
  render->add_option("--strokes,STROKES", renderArguments.script, "Stroke script (\"-\" for standard input)");
  render->add_option("--image", renderArguments.images,
                     "PNG image FILE.png, or FILE.png@X,Y to place its top left corner X, Y millimetres from the "
                     "plate's origin (default 0,0); may be given several times")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  CLI::Option* bitsFlag =
      render->add_flag("--bits", renderBits, "One-bit rows for every image (grey below 128 is engraved)");
  render->add_flag("--grey", renderGrey, "Grey rows for every image, black-and-white ones included")
      ->excludes(bitsFlag);
  render->add_option("--class", renderArguments.colourClass,
                     "Colour class of one-bit image rows, 0 to 8 (default 0; 8 is white, never engraved)")
      ->check(CLI::Range(0, 8));
  render->add_option("--settings", renderArguments.settings,
                     "Settings file, JSON or raw (default: the defaults)");
  render->add_option("-o,--output", renderArguments.output, "Job file to write")->required();
  render->add_flag("--trace", renderArguments.trace, "Show the engine's diagnostics on standard error");
  render->add_option("--preview", renderArguments.preview, "Also write a preview of the job (FILE.png or FILE.svg)");
  render->footer(
      "Stroke coordinates are dots at the vector resolution for machine kinds 0, 1 and 4, hundredths of a\n"
      "millimetre for kinds 5 and 11, plotter units (0.025 mm) otherwise.\n\nExamples:\n"
      "  ostrelin render --strokes examples/sample-strokes.txt -o job.bin --preview job.png\n"
      "  ostrelin render --image examples/sample-logo.png@10,5 --image examples/sample-photo.png@30,5 -o job.bin");
  render->callback([&] {
    renderArguments.rows =
        renderBits ? tools::ImageRows::kBits : (renderGrey ? tools::ImageRows::kGrey : tools::ImageRows::kAuto);
    action = [&] { return tools::RenderCommand(renderArguments); };
  });

  tools::PrintArguments printArguments;
  CLI::App* print = app.add_subcommand("print", "Run the spool road on HPGL: chunks handed to the engine as a spooler does");
  print->add_option("INPUT", printArguments.input, "HPGL file (\"-\" for standard input)")->required();
  print->add_option("-o,--output", printArguments.output,
                    "Job file (default: standard output); without --printer the engine writes the file itself");
  print->add_option("--settings", printArguments.settings, "Settings file, JSON or raw (default: the defaults)");
  print->add_option("--printer", printArguments.printer, "Send the jobs through a printer of this name");
  print->add_option("--printer-data", printArguments.printerData, "File keeping the printer's data");
  print->add_option("--chunk", printArguments.chunkBytes, "Bytes per chunk handed to the engine (default 65536)");
  print->add_flag("--trace", printArguments.trace, "Show the interpreter's diagnostics on standard error");
  print->add_option("--preview", printArguments.preview, "Also write a preview of the job (FILE.png or FILE.svg)");
  print->add_flag("--append-page-end", printArguments.appendPageEnd,
                  "Add \"PG;\" after the input when its last job has no page end");
  print->footer(
      "Chunks are in bytes; a job ends at a chunk ending with \"PG;\". Coordinates are HPGL plotter units\n"
      "(0.025 mm) or the scaled units of SC.\n\nExamples:\n"
      "  ostrelin print drawing.hpgl -o job.bin\n"
      "  ostrelin print drawing.hpgl --settings machine.json --printer Engraver -o job.bin --preview job.png\n"
      "  cat drawing.hpgl | ostrelin print - --append-page-end > job.bin");
  print->callback([&] { action = [&] { return tools::Print(printArguments); }; });

  tools::DumpArguments dumpArguments;
  CLI::App* dump = app.add_subcommand("dump", "Decode a machine job stream and print its elements");
  dump->add_option("JOB", dumpArguments.job, "Job file")->required();
  dump->add_flag("--json", dumpArguments.json, "Print JSON instead of text");
  dump->add_flag("--summary", dumpArguments.summaryOnly, "Print the summary only");
  dump->add_option("--motion-record-bytes", dumpArguments.motionRecordBytes,
                   "Size of motion records, 8 or 12 (default: from the job header's controller kind)")
      ->check(CLI::IsMember({8, 12}));
  dump->footer(
      "Offsets are in bytes from the start of the file; motion records are shown in motor steps or\n"
      "hundredths of a millimetre, as the job header's controller says.\n\nExamples:\n"
      "  ostrelin dump job.bin\n  ostrelin dump job.bin --summary\n  ostrelin dump job.bin --json > job.json");
  dump->callback([&] { action = [&] { return tools::Dump(dumpArguments); }; });

  tools::PreviewArguments previewArguments;
  CLI::App* preview = app.add_subcommand(
      "preview", "Draw a job stream as the engraver will execute it: PNG of the plate, or SVG of the vector moves");
  preview->add_option("JOB", previewArguments.job, "Job file (\"-\" for standard input)")->required();
  preview->add_option("-o,--output", previewArguments.output,
                      "Picture to write: FILE.png (raster and vectors) or FILE.svg (vectors in mm, raster as an "
                      "embedded image)")
      ->required();
  preview->add_option("--scale", previewArguments.options.pixelsPerMm,
                      "Pixels per millimetre of plate (default: the longer plate side on 1600 pixels, at most "
                      "one pixel per dot)")
      ->check(CLI::PositiveNumber);
  preview->add_flag("--travel", previewArguments.options.travel,
                    "Also draw pen-up travel and raster head moves as thin dashed blue lines");
  preview->add_option("--class", previewArguments.options.group,
                      "Draw only settings group N (0 for the first): work under equal power, speed, AI, FR and SL; "
                      "the stream names no colour class, so groups are numbered in the order the job uses them "
                      "and drawn in the colours of classes 0 black, 1 red, 2 green, 3 yellow, 4 blue, 5 magenta, "
                      "6 cyan, 7 orange")
      ->check(CLI::NonNegativeNumber);
  preview->add_option("--job", previewArguments.options.job, "Job of a series stream, 1 for the first (default 1)")
      ->check(CLI::PositiveNumber);
  preview->footer(
      "Raster rows are shaded by their power (a grey byte of 128, or \"PW\" 100, is full colour); positions come "
      "from the head moves and the job header's plate and resolutions.\n\nExamples:\n"
      "  ostrelin preview job.bin -o job.png\n  ostrelin preview job.bin -o job.png --scale 4 --travel\n"
      "  ostrelin preview job.bin -o vectors.svg --class 1");
  preview->callback([&] { action = [&] { return tools::Preview(previewArguments); }; });

  tools::InfoArguments infoArguments;
  CLI::App* info = app.add_subcommand("info", "Summarise a job stream for the operator: machine, plate, time, "
                                              "power, speed, passes, raster area, vector length, warnings");
  info->add_option("JOB", infoArguments.job, "Job file (\"-\" for standard input)")->required();
  info->add_flag("--json", infoArguments.json, "Print JSON instead of text");
  info->add_option("--job", infoArguments.jobIndex, "Job of a series stream, 1 for the first (default 1)")
      ->check(CLI::PositiveNumber);
  info->footer(
      "Units: lengths in mm, areas in mm2, power in percent, speed in mm/s (the \"vd\" word / 10), time in hours, "
      "minutes and seconds from the job's \"TE\" estimate.\n\nExamples:\n  ostrelin info job.bin\n"
      "  ostrelin info job.bin --json");
  info->callback([&] { action = [&] { return tools::Info(infoArguments); }; });

  tools::FontSheetArguments fontSheetArguments;
  CLI::App* fontSheet = app.add_subcommand(
      "font-sheet",
      "Draw every glyph of the label font's character sets on its grid, with its code, to check the font by eye");
  fontSheet->add_option("-o,--output", fontSheetArguments.output, "PNG file to write (\"-\" for standard output)")
      ->required();
  fontSheet->add_option("--set", fontSheetArguments.options.set, "Draw only character set N, 0 to 7 (default: all)")
      ->check(CLI::Range(0, 7));
  fontSheet->add_option("--step", fontSheetArguments.options.stepPixels,
                        "Pixels per glyph grid step (default 6; a capital is 4 x 6 steps)")
      ->check(CLI::Range(tools::kMinSheetStepPixels, tools::kMaxSheetStepPixels));
  fontSheet->footer(
      "Codes 32 to 127 of each set, 16 to a row. Each cell shows the grid the glyphs are drawn on (gx -1 to 6\n"
      "across, gy -4 to 11 up) in light grey, the baseline and cap height in light blue, the x-height dotted;\n"
      "the code is printed under the cell, in red for a non-spacing character (it overprints the character\n"
      "before it). A set 0 label draws its bytes 128 to 255 from set 7, at the byte less 128.\n\nExamples:\n"
      "  ostrelin font-sheet -o sheet.png\n  ostrelin font-sheet -o set2.png --set 2 --step 10");
  fontSheet->callback([&] { action = [&] { return tools::FontSheet(fontSheetArguments); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? tools::kExitOk : tools::kExitUsage;
  }
  try {
    return action();
  } catch (const tools::ToolError& error) {
    std::cerr << "ostrelin: " << error.what() << '\n';
    return error.exitStatus();
  } catch (const std::exception& error) {
    std::cerr << "ostrelin: " << error.what() << '\n';
    return tools::kExitFailed;
  }
}
