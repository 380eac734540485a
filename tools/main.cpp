// The ostrelin command-line program: parses the command line and runs one command of the toolkit.
#include <CLI/CLI.hpp>
#include <exception>
#include <functional>
#include <iostream>
#include <string>

#include "tools/commands.h"
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
  defaults->callback([&] { action = [&] { return tools::SettingsDefaults(settingsOutput); }; });
  CLI::App* show = settings->add_subcommand("show", "Print a settings file (JSON or raw record) as JSON");
  show->add_option("FILE", settingsInput, "Settings file")->required();
  show->add_option("-o,--output", settingsOutput, "Output file (default: standard output)");
  show->callback([&] { action = [&] { return tools::SettingsShow(settingsInput, settingsOutput); }; });
  CLI::App* decode = settings->add_subcommand("decode", "Print a raw settings record as JSON");
  decode->add_option("RECORD", settingsInput, "Raw settings record of 1828 bytes")->required();
  decode->add_option("-o,--output", settingsOutput, "Output file (default: standard output)");
  decode->callback([&] { action = [&] { return tools::SettingsDecode(settingsInput, settingsOutput); }; });
  CLI::App* encode =
      settings->add_subcommand("encode", "Write the raw settings record of a JSON settings file");
  encode->add_option("FILE", settingsInput, "JSON settings file")->required();
  encode->add_option("-o,--output", settingsOutput, "Raw record file")->required();
  encode->callback([&] { action = [&] { return tools::SettingsEncode(settingsInput, settingsOutput); }; });

  tools::RenderArguments renderArguments;
  CLI::App* render = app.add_subcommand("render",
                                        "Run the rendering road on a stroke script (lines \"colour N\", \"pu "
                                        "X Y\", \"pd X Y\", \"eof\", \"# comment\")");
  render->add_option("--strokes,STROKES", renderArguments.script, "Stroke script (\"-\" for standard input)")->required();
  render->add_option("--settings", renderArguments.settings,
                     "Settings file, JSON or raw (default: the defaults)");
  render->add_option("-o,--output", renderArguments.output, "Job file to write")->required();
  render->add_flag("--trace", renderArguments.trace, "Show the engine's diagnostics on standard error");
  render->callback([&] { action = [&] { return tools::Render(renderArguments); }; });

  tools::DumpArguments dumpArguments;
  CLI::App* dump = app.add_subcommand("dump", "Decode a machine job stream and print its elements");
  dump->add_option("JOB", dumpArguments.job, "Job file")->required();
  dump->add_flag("--json", dumpArguments.json, "Print JSON instead of text");
  dump->add_flag("--summary", dumpArguments.summaryOnly, "Print the summary only");
  dump->add_option("--motion-record-bytes", dumpArguments.motionRecordBytes,
                   "Size of motion records, 8 or 12 (default: from the job header's controller kind)")
      ->check(CLI::IsMember({8, 12}));
  dump->callback([&] { action = [&] { return tools::Dump(dumpArguments); }; });

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
